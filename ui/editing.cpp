// Batch editing: adding the confirmed pair and removing the entry of the
// selected list item. Every edit goes through the batch store's atomic
// replace.
#include <algorithm>
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
    // Kept now: a repair below points the pickers at the first entry.
    const std::string source = Brondir.path();
    const std::string target = Doeldir.path();
    const bool yes = question("Include Sub Directory's on this item ?");
    List1.clear();
    auto lines = store_->ReadLines();
    if (lines && (lines->empty() || (lines->size() - 1) % 3 != 0)) {
        // Appended after a fragment, the new lines would pair with the
        // wrong ones: repair first (which says what it drops).
        store_->CheckBatchFile();
        lines = store_->ReadLines();
    }
    if (lines) {
        lines->push_back("Source:" + source);
        lines->push_back("Target:" + target);
        lines->push_back(std::string("Subs:") + (yes ? "YES" : "NO"));
        (void)store_->Replace(*lines, true);
    }
    store_->ListBatch();
    store_->CheckBatchFile();
}

void Form1::Command7_Click() {
    if (refusedDuringRun("Please remove the entry")) return;
    if (store_->IsSingleEntryBatch()) {
        notice("Information",
               "It is not possible to remove this entry from the batch.\r\n"
               "Please add new entry and then remove this one...");
        return;
    }
    const long long number = entry_number(List1.text());
    auto lines = store_->ReadLines();
    if (!lines) return;
    if (std::vector<std::string>(lines->begin() + (lines->empty() ? 0 : 1), lines->end()) !=
        store_->listedEntries()) {
        // The file changed since the list was made (edited by hand, or cut
        // short): the number selected may name another entry now.
        store_->ListBatch();
        Command7.setEnabled(false);
        notice("Information",
               "The batch has changed since it was listed. Please select the entry again.");
        return;
    }
    List1.clear();
    std::vector<std::string> out;
    if (!lines->empty()) out.push_back((*lines)[0]);
    long long count = 0;
    std::size_t i = 1;
    for (; i + 3 <= lines->size(); i += 3) {
        if (++count == number) continue;
        out.insert(out.end(), lines->begin() + static_cast<long>(i),
                   lines->begin() + static_cast<long>(i) + 3);
    }
    // Lines after the last whole entry stay for the repair to deal with.
    out.insert(out.end(), lines->begin() + static_cast<long>(std::min(i, lines->size())),
               lines->end());
    (void)store_->Replace(out, true);
    store_->CheckBatchFile();
    store_->ListBatch();
    Command7.setEnabled(false);
}

void Form1::List1_Click() {
    const std::string t = List1.text();
    Command7.setEnabled(!(t.empty() || t[0] == '-'));
}

}  // namespace qm::ui
