// The batch file on real files in a temporary program directory.
#include "batch/store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "support/forwarding_os.h"
#include "support/tempdir.h"

namespace qm::test {
namespace {

using batch::Store;

struct Notice {
    std::string title, text;
};

class RecordingWindow : public batch::Window {
public:
    void notice(const std::string& title, const std::string& text) override {
        notices.push_back({title, text});
    }
    void showFirstEntry(const std::string& s, const std::string& t) override {
        source = s;
        target = t;
        ++shown;
    }
    void setSubsValue(const std::string& v) override { subs = v; }
    void clearList() override { items.clear(); }
    void addListItem(const std::string& item) override { items.push_back(item); }
    std::string startDirectory() override { return start; }

    std::vector<Notice> notices;
    std::string source, target, subs, start;
    std::vector<std::string> items;
    int shown = 0;
};

class BatchStore : public ::testing::Test {
protected:
    BatchStore() : store(window, dir.path()) {
        auto cwd = os::native().current_dir();
        window.start = cwd ? *cwd : dir.path();
    }

    std::string ini() const { return dir / "BATCH.INI"; }
    void writeIni(const std::vector<std::string>& lines) { write(ini(), batch::join_lines(lines)); }
    std::string root() const { return os::placeholder_root(); }

    TempDir dir;
    RecordingWindow window;
    Store store;
};

TEST_F(BatchStore, FirstStartCreatesThePlaceholderAndSaysSoOnce) {
    store.CheckBatchFile();
    ASSERT_EQ(window.notices.size(), 1u);
    EXPECT_EQ(window.notices[0].title, "First time");
    EXPECT_EQ(window.notices[0].text,
              "Please select Source and Target directory...\r\nThen remove initial batch entry...");
    EXPECT_EQ(read(ini()),
              "[batch]\r\nSource:" + root() + "\r\nTarget:" + root() + "\r\nSubs:YES\r\n");
    EXPECT_EQ(window.source, root());
    EXPECT_EQ(window.target, root());
    EXPECT_EQ(window.subs, "YES");
    EXPECT_TRUE(exists(dir / "batch.new"));

    store.CheckBatchFile();
    EXPECT_EQ(window.notices.size(), 1u);
    EXPECT_EQ(read(ini()),
              "[batch]\r\nSource:" + root() + "\r\nTarget:" + root() + "\r\nSubs:YES\r\n");
}

// Where names ignore case the file is created as "batch.ini" and keeps that
// spelling through every replace; elsewhere it is "BATCH.INI".
TEST_F(BatchStore, TheBatchFileKeepsTheSpellingItWasCreatedWith) {
    const std::string made = os::case_insensitive_names() ? "batch.ini" : "BATCH.INI";
    auto spelled = [&] {
        std::vector<std::string> found;
        for (const auto& n : names(dir.path()))
            if (n == "batch.ini" || n == "BATCH.INI") found.push_back(n);
        return found;
    };
    store.CheckBatchFile();
    EXPECT_EQ(spelled(), std::vector<std::string>{made});
    mkdirs(dir / "a");
    writeIni({"[batch]", "Source:" + (dir / "a"), "Target:" + (dir / "a"), "Subs:NO"});
    store.CheckBatchFile();
    store.CheckBatchFile();
    EXPECT_EQ(spelled(), std::vector<std::string>{made});
    EXPECT_EQ(window.source, dir / "a");
}

TEST_F(BatchStore, RepairRewritesAnyHeaderAndKeepsTheEntries) {
    mkdirs(dir / "a");
    mkdirs(dir / "b");
    for (const std::string header : {"[BATCH]", "anything at all", ""}) {
        writeIni({header, "Source:" + (dir / "a"), "Target:" + (dir / "b"), "Subs:NO"});
        store.CheckBatchFile();
        EXPECT_EQ(read(ini()), "[batch]\r\nSource:" + (dir / "a") + "\r\nTarget:" + (dir / "b") +
                                   "\r\nSubs:NO\r\n")
            << "header " << header;
        EXPECT_EQ(window.source, dir / "a");
        EXPECT_EQ(window.subs, "NO");
    }
    EXPECT_TRUE(window.notices.empty());
}

TEST_F(BatchStore, EntriesWithAMissingDirectoryAreDroppedAndTheRestKeepTheirOrder) {
    for (auto d : {"s1", "t1", "s3", "t3", "s4"}) mkdirs(dir / d);
    writeIni({"[batch]", "Source:" + (dir / "s1"), "Target:" + (dir / "t1"), "Subs:YES",
              "Source:" + (dir / "gone"), "Target:" + (dir / "t1"), "Subs:YES",  // source missing
              "Source:" + (dir / "s3"), "Target:" + (dir / "t3"), "Subs:NO",
              "Source:" + (dir / "s4"), "Target:" + (dir / "gone"), "Subs:YES",  // target missing
              // a drive root after a dropped entry is judged on its own
              "Source:" + root(), "Target:" + (dir / "t3"), "Subs:NO"});
    store.CheckBatchFile();
    EXPECT_EQ(
        read(ini()),
        batch::join_lines({"[batch]", "Source:" + (dir / "s1"), "Target:" + (dir / "t1"),
                           "Subs:YES", "Source:" + (dir / "s3"), "Target:" + (dir / "t3"),
                           "Subs:NO", "Source:" + root(), "Target:" + (dir / "t3"), "Subs:NO"}));
    EXPECT_EQ(window.source, dir / "s1");
    EXPECT_EQ(window.target, dir / "t1");

    // A directory that comes back later does not bring its entry back.
    mkdirs(dir / "gone");
    store.CheckBatchFile();
    EXPECT_EQ(batch::split_lines(read(ini())).size(), 10u);
}

TEST_F(BatchStore, APlainFileOfTheNamePassesTheTest) {
    write(dir / "file", "x");
    mkdirs(dir / "t");
    writeIni({"[batch]", "Source:" + (dir / "file"), "Target:" + (dir / "t"), "Subs:NO"});
    store.CheckBatchFile();
    EXPECT_EQ(window.source, dir / "file");
}

TEST_F(BatchStore, NothingLeftBringsThePlaceholderBackWithSubsNo) {
    writeIni({"[batch]", "Source:" + (dir / "x"), "Target:" + (dir / "y"), "Subs:YES"});
    store.CheckBatchFile();
    EXPECT_EQ(read(ini()),
              "[batch]\r\nSource:" + root() + "\r\nTarget:" + root() + "\r\nSubs:NO\r\n");
    EXPECT_EQ(window.subs, "NO");
    EXPECT_TRUE(window.notices.empty());
}

TEST_F(BatchStore, AnEmptyFileIsRepairedToThePlaceholderWithoutTheFirstStartMessage) {
    write(ini(), "");
    store.CheckBatchFile();
    EXPECT_TRUE(window.notices.empty());
    EXPECT_EQ(read(ini()),
              "[batch]\r\nSource:" + root() + "\r\nTarget:" + root() + "\r\nSubs:NO\r\n");
}

TEST_F(BatchStore, AFileEndingInsideAnEntryLosesOnlyTheFragmentAndSaysWhich) {
    mkdirs(dir / "a");
    mkdirs(dir / "b");
    writeIni({"[batch]", "Source:" + (dir / "a"), "Target:" + (dir / "b"), "Subs:YES",
              "Source:" + (dir / "a"), "Target:" + (dir / "half")});
    store.CheckBatchFile();
    EXPECT_EQ(read(ini()), batch::join_lines({"[batch]", "Source:" + (dir / "a"),
                                              "Target:" + (dir / "b"), "Subs:YES"}));
    ASSERT_EQ(window.notices.size(), 1u);
    EXPECT_EQ(window.notices[0].title, "Information");
    EXPECT_NE(window.notices[0].text.find("Target:" + (dir / "half")), std::string::npos);
    EXPECT_NE(window.notices[0].text.find("Source:" + (dir / "a")), std::string::npos);
}

TEST_F(BatchStore, ReadersAcceptEveryLineEnd) {
    mkdirs(dir / "a");
    mkdirs(dir / "b");
    for (const std::string eol : {"\n", "\r", "\r\n"}) {
        write(ini(), "[batch]" + eol + "Source:" + (dir / "a") + eol + "Target:" + (dir / "b") +
                         eol + "Subs:NO" + eol);
        store.CheckBatchFile();
        EXPECT_EQ(window.target, dir / "b");
        EXPECT_EQ(read(ini()), "[batch]\r\nSource:" + (dir / "a") + "\r\nTarget:" + (dir / "b") +
                                   "\r\nSubs:NO\r\n");
    }
}

TEST_F(BatchStore, PrefixesAreNeverCompared) {
    mkdirs(dir / "a");
    mkdirs(dir / "b");
    // Other capitals, or any seven characters before the path.
    writeIni({"[batch]", "SOURCE:" + (dir / "a"), "xxxxxxx" + (dir / "b"), "subs:YES"});
    store.CheckBatchFile();
    EXPECT_EQ(window.source, dir / "a");
    EXPECT_EQ(window.target, dir / "b");
    EXPECT_EQ(window.subs, "YES");
    window.items.clear();
    store.ListBatch();
    ASSERT_EQ(window.items.size(), 4u);
    EXPECT_EQ(window.items[0], " 1. Source:" + (dir / "a"));
    EXPECT_EQ(window.items[1], " 1. Target:" + (dir / "b"));
}

TEST_F(BatchStore, SingleEntryIsToldByTheLineCount) {
    writeIni({"[batch]", "Source:" + root(), "Target:" + root(), "Subs:NO"});
    EXPECT_TRUE(store.IsSingleEntryBatch());
    writeIni({"[batch]", "Source:" + root(), "Target:" + root(), "Subs:NO", "Source:" + root(),
              "Target:" + root(), "Subs:NO"});
    EXPECT_FALSE(store.IsSingleEntryBatch());
}

TEST_F(BatchStore, TenEntriesAreListedWithSignPositionNumbersAndSeparators) {
    std::vector<std::string> lines{"[batch]"};
    for (int i = 1; i <= 10; ++i) {
        lines.push_back("Source:" + root() + "s" + std::to_string(i));
        lines.push_back("Target:" + root() + "t" + std::to_string(i));
        lines.push_back(i % 2 ? "Subs:YES" : "Subs:NO");
    }
    writeIni(lines);
    store.ListBatch();
    ASSERT_EQ(window.items.size(), 40u);
    const std::string sep(91, '-');
    EXPECT_EQ(window.items[0], " 1. Source:" + root() + "s1");
    EXPECT_EQ(window.items[2], " 1. Include Subs:YES");
    EXPECT_EQ(window.items[3], sep);
    EXPECT_EQ(window.items[36], " 10. Source:" + root() + "s10");
    EXPECT_EQ(window.items[37], " 10. Target:" + root() + "t10");
    EXPECT_EQ(window.items[38], " 10. Include Subs:NO");
    EXPECT_EQ(window.items[39], sep);
}

TEST_F(BatchStore, ListBatchReadsFromTheProgramDirectoryAfterReturningToTheStartDirectory) {
    TempDir elsewhere;
    window.start = elsewhere.path();
    writeIni({"[batch]", "Source:" + root(), "Target:" + root(), "Subs:NO"});
    store.ListBatch();
    EXPECT_EQ(window.items.size(), 4u);
    auto cwd = os::native().current_dir();
    ASSERT_TRUE(cwd);
    EXPECT_EQ(os::native().identity(*cwd).value(), os::native().identity(elsewhere.path()).value());
    ASSERT_TRUE(os::native().set_current_dir(dir.path()));
}

// -- names of every script ---------------------------------------------------

// "Łódź", and "Lodz" beside it: the look-alike the Windows code page would
// turn the first into, so that a changed path would name another directory.
const std::string kLodz = "\xC5\x81\xC3\xB3\x64\xC5\xBA";
const std::string kTarget = "c\xC3\xADl-\xE7\x9B\xAE\xE6\xA8\x99-\xF0\x9F\x8E\xAF";  // cíl-目標-🎯

TEST_F(BatchStore, ANameOfAnyScriptIsStoredAsItIsAndReadBackAfterARestart) {
    mkdirs(dir / ("uni/" + kLodz));
    mkdirs(dir / "uni/Lodz");
    mkdirs(dir / ("uni/" + kTarget));
    const std::vector<std::string> lines{"[batch]", "Source:" + (dir / ("uni/" + kLodz)),
                                         "Target:" + (dir / ("uni/" + kTarget)), "Subs:YES"};
    ASSERT_TRUE(store.Replace(lines, true));
    const std::string held = read(ini());
    // Windows: the whole file UTF-8 behind the byte-order mark, as no ANSI
    // code page has all of these; POSIX: bytes as they are.
    EXPECT_EQ(held, (os::separator() == '\\' ? "\xEF\xBB\xBF" : "") + batch::join_lines(lines));

    // The next start reads it, finds nothing to repair and leaves it so.
    RecordingWindow again;
    again.start = window.start;
    Store restarted(again, dir.path());
    restarted.CheckBatchFile();
    EXPECT_EQ(read(ini()), held);
    EXPECT_EQ(again.source, dir / ("uni/" + kLodz));
    EXPECT_EQ(again.target, dir / ("uni/" + kTarget));
    EXPECT_TRUE(again.notices.empty());
    restarted.ListBatch();
    ASSERT_EQ(again.items.size(), 4u);
    EXPECT_EQ(again.items[0], " 1. Source:" + (dir / ("uni/" + kLodz)));
    EXPECT_EQ(again.items[1], " 1. Target:" + (dir / ("uni/" + kTarget)));
}

// A batch whose names the code page has is written as it always was, and
// an 8-bit batch file reads as it always did: "é" is one byte on Windows.
TEST_F(BatchStore, ABatchOfNamesTheCodePageHasKeepsItsEightBitForm) {
    const std::string cafe = "caf\xC3\xA9";
    mkdirs(dir / cafe);
    const std::vector<std::string> lines{"[batch]", "Source:" + (dir / cafe),
                                         "Target:" + (dir / cafe), "Subs:NO"};
    ASSERT_TRUE(store.Replace(lines, true));
    const std::string held = read(ini());
    std::string expected = batch::join_lines(lines);
    if (os::separator() == '\\') {
        // The code page under test (1252) has é as the byte E9.
        for (auto at = expected.find(cafe); at != std::string::npos; at = expected.find(cafe))
            expected.replace(at, cafe.size(), "caf\xE9");
    }
    EXPECT_EQ(held, expected);
    store.CheckBatchFile();
    EXPECT_EQ(read(ini()), held) << "nothing to repair";
    EXPECT_EQ(window.source, dir / cafe);
    EXPECT_EQ(*store.ReadLines(), lines);
}

// -- failures ----------------------------------------------------------------

// Makes one named operation fail on a path ending as given.
class FailingOs : public os::ForwardingOs {
public:
    FailingOs(std::string op, std::string suffix)
        : os::ForwardingOs(os::native()), op_(std::move(op)), suffix_(std::move(suffix)) {}

    os::Status write_file(const std::string& p, std::string_view d, bool durable) override {
        if (hit("write", p)) return fail(p);
        return inner_.write_file(p, d, durable);
    }
    os::Status rename_replace(const std::string& f, const std::string& t) override {
        if (hit("rename", t)) return fail(f);
        return inner_.rename_replace(f, t);
    }
    os::Result<std::string> read_file(const std::string& p) override {
        if (hit("read", p)) return std::unexpected(fail(p).error());
        return inner_.read_file(p);
    }
    os::Status flush_dir(const std::string& d) override {
        if (hit("flush", d)) return fail(d);
        return inner_.flush_dir(d);
    }

private:
    bool hit(const std::string& op, const std::string& p) const {
        return op == op_ && p.size() >= suffix_.size() &&
               p.compare(p.size() - suffix_.size(), suffix_.size(), suffix_) == 0;
    }
    os::Status fail(const std::string& p) const {
        return std::unexpected(os::make_error(os::Errc::access, op_, p, "injected failure"));
    }
    std::string op_, suffix_;
};

TEST_F(BatchStore, AFailedWriteLeavesTheBatchFileByteForByteAndSaysWhy) {
    mkdirs(dir / "a");
    // Held with LF ends and a header to repair, and one dropped entry: a
    // rewrite would change every byte of it.
    const std::string before = "[Batch]\nSource:" + (dir / "a") + "\nTarget:" + (dir / "a") +
                               "\nSubs:NO\nSource:" + (dir / "gone") + "\nTarget:x\nSubs:NO\n";
    const struct {
        const char* op;
        const char* suffix;
    } faults[] = {{"write", "batch.new"}, {"write", "batch.tmp"}, {"rename", "BATCH.INI"}};
    for (const auto& f : faults) {
        write(ini(), before);
        window.notices.clear();
        FailingOs failing(f.op, f.suffix);
        os::ScopedOs use(failing);
        store.CheckBatchFile();
        EXPECT_EQ(read(ini()), before) << f.op << " " << f.suffix;
        ASSERT_EQ(window.notices.size(), 1u) << f.op << " " << f.suffix;
        EXPECT_EQ(window.notices[0].title, "Information");
        EXPECT_NE(window.notices[0].text.find(ini()), std::string::npos);
        EXPECT_NE(window.notices[0].text.find("injected failure"), std::string::npos);
        EXPECT_FALSE(exists(dir / "batch.tmp"));
    }
}

// The replace itself stands; that it may not survive a power cut yet is
// said once, not at every tick, and again after a flush has worked.
TEST_F(BatchStore, AProgramDirectoryThatCannotBeFlushedIsToldOnce) {
    // A header to repair: every check replaces the file.
    auto check = [&] {
        writeIni({"[Batch]", "Source:" + root(), "Target:" + root(), "Subs:NO"});
        store.CheckBatchFile();
    };
    {
        FailingOs failing("flush", dir.path());
        os::ScopedOs use(failing);
        check();
        check();
    }
    ASSERT_EQ(window.notices.size(), 1u);
    EXPECT_EQ(window.notices[0].title, "Information");
    EXPECT_NE(window.notices[0].text.find("may not be on disk yet"), std::string::npos);
    EXPECT_NE(window.notices[0].text.find("injected failure"), std::string::npos);
    EXPECT_EQ(read(ini()),
              "[batch]\r\nSource:" + root() + "\r\nTarget:" + root() + "\r\nSubs:NO\r\n");
    EXPECT_EQ(window.shown, 2);
    check();
    FailingOs failing("flush", dir.path());
    os::ScopedOs use(failing);
    check();
    EXPECT_EQ(window.notices.size(), 2u);
}

// At nearly every tick there is nothing to repair: the file is then not
// replaced (no flush of the disk every minute), and batch.new still holds
// the batch as checked.
TEST_F(BatchStore, ABatchFileThatNeedsNoRepairIsLeftAsItIs) {
    mkdirs(dir / "s");
    writeIni({"[batch]", "Source:" + (dir / "s"), "Target:" + (dir / "s"), "Subs:NO"});
    const std::string before = read(ini());
    const auto id = os::native().identity(ini()).value();
    {
        FailingOs failing("flush", dir.path());  // a replace would say so
        os::ScopedOs use(failing);
        store.CheckBatchFile();
        store.CheckBatchFile();
    }
    EXPECT_EQ(os::native().identity(ini()).value(), id) << "replaced";
    EXPECT_EQ(read(ini()), before);
    EXPECT_EQ(read(dir / "batch.new"), before);
    EXPECT_TRUE(window.notices.empty());
    EXPECT_EQ(window.shown, 2);

    // Once a directory is gone, the next check repairs it as always.
    ASSERT_TRUE(os::native().remove_dir(dir / "s"));
    store.CheckBatchFile();
    EXPECT_NE(os::native().identity(ini()).value(), id);
    EXPECT_EQ(read(ini()),
              "[batch]\r\nSource:" + root() + "\r\nTarget:" + root() + "\r\nSubs:NO\r\n");
    EXPECT_EQ(read(dir / "batch.new"), read(ini()));
}

TEST_F(BatchStore, AFailedFirstStartWriteCreatesNothingAndSaysWhy) {
    // A new batch file is spelled as kCreatedName where names ignore case.
    FailingOs failing("rename",
                      os::case_insensitive_names() ? batch::kCreatedName : batch::kFileName);
    os::ScopedOs use(failing);
    store.CheckBatchFile();
    EXPECT_FALSE(exists(ini()));
    ASSERT_EQ(window.notices.size(), 2u);
    EXPECT_EQ(window.notices[0].title, "First time");
    EXPECT_EQ(window.notices[1].title, "Information");
    EXPECT_EQ(window.shown, 0);
}

TEST_F(BatchStore, AnUnreadableFileIsReportedAndLeftAlone) {
    writeIni({"[batch]", "Source:" + root(), "Target:" + root(), "Subs:NO"});
    const std::string before = read(ini());
    FailingOs failing("read", "BATCH.INI");
    os::ScopedOs use(failing);
    store.CheckBatchFile();
    store.ListBatch();
    EXPECT_EQ(read(ini()), before);
    EXPECT_TRUE(window.items.empty());
    ASSERT_EQ(window.notices.size(), 2u);
    EXPECT_NE(window.notices[0].text.find("could not be read"), std::string::npos);
    // Unreadable means a removal is refused rather than guessed at.
    EXPECT_TRUE(store.IsSingleEntryBatch());
}

// Answers the look-up of a path that contains one of the matches with its
// error, as a passing failure would.
class ProbeFailingOs : public os::ForwardingOs {
public:
    explicit ProbeFailingOs(std::vector<std::pair<std::string, os::Errc>> faults)
        : os::ForwardingOs(os::native()), faults_(std::move(faults)) {}
    os::Result<bool> probe(const std::string& p) override {
        for (const auto& [match, code] : faults_)
            if (p.find(match) != std::string::npos)
                return std::unexpected(os::make_error(code, "look up", p, "injected failure"));
        return inner_.probe(p);
    }

private:
    std::vector<std::pair<std::string, os::Errc>> faults_;
};

TEST_F(BatchStore, OnlyADirectorySurelyGoneDropsItsEntry) {
    mkdirs(dir / "s");
    mkdirs(dir / "t");
    write(dir / "plain", "a file");
    auto entry = [](const std::string& s, const std::string& t, const char* subs) {
        return std::vector<std::string>{"Source:" + s, "Target:" + t, std::string("Subs:") + subs};
    };
    const auto locked = entry(dir / "s", dir / "locked/t", "NO");
    const auto flaky = entry(dir / "flaky/s", dir / "t", "YES");
    const auto gone = entry(dir / "s", dir / "gone", "NO");
    const auto belowFile = entry(dir / "s", dir / "plain/below", "NO");
    const auto fine = entry(dir / "s", dir / "t", "NO");
    std::vector<std::string> lines{"[batch]"};
    for (const auto* e : {&locked, &flaky, &gone, &belowFile, &fine})
        lines.insert(lines.end(), e->begin(), e->end());
    writeIni(lines);

    ProbeFailingOs failing({{"locked", os::Errc::access}, {"flaky", os::Errc::io}});
    {
        os::ScopedOs use(failing);
        store.CheckBatchFile();
    }
    std::vector<std::string> expected{"[batch]"};
    for (const auto* e : {&locked, &flaky, &fine})
        expected.insert(expected.end(), e->begin(), e->end());
    EXPECT_EQ(batch::split_lines(read(ini())), expected);
    EXPECT_EQ(window.target, dir / "locked/t") << "a kept entry stays first";
    EXPECT_TRUE(window.notices.empty()) << "an entry kept or dropped is not a message";

    // Once the look-ups answer, the entries whose directories are surely
    // gone are dropped.
    store.CheckBatchFile();
    EXPECT_EQ(batch::split_lines(read(ini())),
              (std::vector<std::string>{"[batch]", fine[0], fine[1], fine[2]}));
}

TEST_F(BatchStore, ABatchFileThatCannotBeLookedUpIsNeitherCreatedNorReplaced) {
    ProbeFailingOs failing({{"BATCH.INI", os::Errc::access}});
    os::ScopedOs use(failing);
    store.CheckBatchFile();
    for (const auto& n : window.notices) EXPECT_NE(n.title, "First time");
    EXPECT_FALSE(exists(ini())) << "nothing made up in its place";
}

// -- permissions ----------------------------------------------------------

namespace fs = std::filesystem;

fs::perms perms_of(const std::string& p) {
    return fs::status(p).permissions() & fs::perms::all;
}

TEST_F(BatchStore, AReadOnlyBatchFileIsNeverReplacedAndTheUserIsToldOnce) {
    mkdirs(dir / "s");
    // The repair would drop the second entry.
    writeIni({"[batch]", "Source:" + (dir / "s"), "Target:" + (dir / "s"), "Subs:NO",
              "Source:" + (dir / "gone"), "Target:" + (dir / "s"), "Subs:NO"});
    const std::string before = read(ini());
    const fs::perms readOnly =
        fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;
    fs::permissions(ini(), readOnly);

    for (int tick = 0; tick < 3; ++tick) store.CheckBatchFile();
    EXPECT_EQ(read(ini()), before) << "also when the program could replace it";
    EXPECT_TRUE(os::native().stat(ini()).value().read_only);
    ASSERT_EQ(window.notices.size(), 1u) << "once, not at every tick";
    EXPECT_EQ(window.notices[0].title, "Information");
    EXPECT_NE(window.notices[0].text.find(ini()), std::string::npos);
    EXPECT_NE(window.notices[0].text.find("read-only"), std::string::npos);
    EXPECT_EQ(window.source, dir / "s") << "the first entry is still shown";

    // An edit the user asked for is answered every time.
    EXPECT_FALSE(store.Replace(
        {"[batch]", "Source:" + (dir / "s"), "Target:" + (dir / "s"), "Subs:YES"}, true));
    EXPECT_EQ(window.notices.size(), 2u);
    EXPECT_EQ(read(ini()), before);

    // Writable again: repaired, and a later read-only file is told again.
    fs::permissions(ini(), readOnly | fs::perms::owner_write);
    store.CheckBatchFile();
    EXPECT_EQ(batch::split_lines(read(ini())).size(), 4u);
    if (os::separator() == '/') {
        EXPECT_EQ(perms_of(ini()), readOnly | fs::perms::owner_write);
    }
    writeIni({"[batch]", "Source:" + (dir / "s"), "Target:" + (dir / "gone"), "Subs:NO",
              "Source:" + (dir / "s"), "Target:" + (dir / "s"), "Subs:NO"});
    fs::permissions(ini(), readOnly);
    store.CheckBatchFile();
    EXPECT_EQ(window.notices.size(), 3u);
    fs::permissions(ini(), fs::perms::owner_all);
}

TEST_F(BatchStore, AReadOnlyBatchFileThatNeedsNoChangeIsLeftWithoutAWord) {
    mkdirs(dir / "s");
    writeIni({"[batch]", "Source:" + (dir / "s"), "Target:" + (dir / "s"), "Subs:NO"});
    fs::permissions(ini(), fs::perms::owner_read);
    store.CheckBatchFile();
    store.CheckBatchFile();
    EXPECT_TRUE(window.notices.empty());
    EXPECT_EQ(window.source, dir / "s");
    fs::permissions(ini(), fs::perms::owner_all);
}

TEST_F(BatchStore, EveryReplaceKeepsThePermissionsOfTheBatchFile) {
    mkdirs(dir / "s");
    if (os::separator() == '\\') GTEST_SKIP() << "Windows keeps no permission bits on a file";
    for (fs::perms p : {fs::perms::owner_read | fs::perms::owner_write,
                        fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read,
                        fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_all |
                            fs::perms::others_read}) {
        writeIni({"[Batch]", "Source:" + (dir / "s"), "Target:" + (dir / "s"), "Subs:NO"});
        fs::permissions(ini(), p);
        store.CheckBatchFile();
        EXPECT_EQ(read(ini()).rfind("[batch]", 0), 0u) << "it was replaced";
        EXPECT_EQ(perms_of(ini()), p);
        EXPECT_TRUE(store.Replace(
            {"[batch]", "Source:" + (dir / "s"), "Target:" + (dir / "s"), "Subs:YES"}, true));
        EXPECT_EQ(perms_of(ini()), p);
    }
    EXPECT_TRUE(window.notices.empty());
}

TEST_F(BatchStore, AnEntryOnADriveThatIsNotThereIsKept) {
    if (os::separator() != '\\') GTEST_SKIP() << "drive letters are Windows's";
    // A letter no drive answers to: an unplugged stick or an empty card reader.
    auto& os = os::native();
    const auto present = os.volumes();
    std::string absent;
    for (char c = 'Y'; c > 'D' && absent.empty(); --c) {
        const std::string v{c, ':'};
        if (std::find(present.begin(), present.end(), v) == present.end()) absent = v;
    }
    ASSERT_FALSE(absent.empty()) << "every letter is taken";
    mkdirs(dir / "s");
    const std::vector<std::string> lines{
        "[batch]",  "Source:" + (dir / "s"),         "Target:" + absent + "\\backup",
        "Subs:YES", "Source:" + absent + "\\photos", "Target:" + (dir / "s"),
        "Subs:NO",  "Source:" + (dir / "s"),         "Target:" + (dir / "gone"),
        "Subs:NO"};
    writeIni(lines);
    store.CheckBatchFile();
    EXPECT_EQ(batch::split_lines(read(ini())),
              std::vector<std::string>(lines.begin(), lines.begin() + 7))
        << "only the directory gone from a drive that is there drops its entry";
    EXPECT_TRUE(window.notices.empty());
}

}  // namespace
}  // namespace qm::test
