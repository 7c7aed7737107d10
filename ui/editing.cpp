// Batch editing: adding the confirmed pair and removing the entry of the
// selected list item. Every edit goes through the batch store's atomic
// replace.
#include <cctype>

#include "ui/form1.h"

namespace qm::ui {

namespace {

// The entry number of a list item: the text before its first ".", leading
// blanks removed, at its numeric value (leading digits; none gives 0).
long long entry_number(const std::string& item) {
    auto dot = item.find('.');
    if (dot == std::string::npos) return 0;
    std::size_t i = 0;
    while (i < dot && item[i] == ' ') ++i;
    long long n = 0;
    for (; i < dot && std::isdigit(static_cast<unsigned char>(item[i])); ++i) {
        n = n * 10 + (item[i] - '0');
        if (n > 1'000'000'000'000LL) break;
    }
    return n;
}

}  // namespace

void Form1::AddBatchEntry() {
    Brondir.setPath(BronTree.path());
    BronTree.setEnabled(false);
    BronDrive.setEnabled(false);
    Doeldir.setPath(Doeltree.path());
    Doeltree.setEnabled(false);
    Doeldrive.setEnabled(false);
    Command1.setEnabled(true);
    Command2.setEnabled(true);
    Command5.setEnabled(false);
    Command4.setEnabled(false);
    Timer1.setEnabled(true);
    const bool yes = services_.dialogs &&
                     services_.dialogs->ask("Question", "Include Sub Directory's on this item ?");
    List1.clear();
    if (auto lines = store_->ReadLines()) {
        lines->push_back("Source:" + Brondir.path());
        lines->push_back("Target:" + Doeldir.path());
        lines->push_back(std::string("Subs:") + (yes ? "YES" : "NO"));
        (void)store_->Replace(*lines);
    }
    store_->ListBatch();
    store_->CheckBatchFile();
}

void Form1::Command7_Click() {
    if (store_->IsSingleEntryBatch()) {
        notice("Information",
               "It is not possible to remove this entry from the batch.\r\n"
               "Please add new entry and then remove this one...");
        return;
    }
    const long long number = entry_number(List1.text());
    List1.clear();
    if (auto lines = store_->ReadLines()) {
        std::vector<std::string> out;
        if (!lines->empty()) out.push_back((*lines)[0]);
        long long count = 0;
        for (std::size_t i = 1; i + 3 <= lines->size(); i += 3) {
            if (++count == number) continue;
            out.insert(out.end(), lines->begin() + static_cast<long>(i),
                       lines->begin() + static_cast<long>(i) + 3);
        }
        (void)store_->Replace(out);
    }
    store_->CheckBatchFile();
    store_->ListBatch();
    Command7.setEnabled(false);
}

void Form1::List1_Click() {
    const std::string t = List1.text();
    Command7.setEnabled(!(t.empty() || t[0] == '-'));
}

}  // namespace qm::ui
