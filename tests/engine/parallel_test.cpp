// Copies made several at once, as onto a slow volume: the files, the log
// and the questions come out as when they are made one after another.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "engine/names.h"
#include "fixture.h"

namespace qm::test {
namespace {

class ParallelTest : public EngineTest {
protected:
    // A pair s -> t with n files f000.txt.. of distinct lengths.
    void files(int n, const std::string& dir = "s") {
        for (int i = 0; i < n; ++i) {
            char name[16];
            std::snprintf(name, sizeof name, "f%03d.txt", i);
            file(dir + "/" + name, std::string(static_cast<std::size_t>(i % 7 + 1), 'x') + name,
                 kTime + i);
        }
    }
    void load(const char* subs = "NO") {
        EngineTest::load({{"s", "t", subs}});
        form->engine().setCopiesInFlight(8);
    }
    // Every source file has its copy, whole and with its time.
    void expectReplicated(const std::string& from, const std::string& to) {
        for (const auto& n : names(data / from)) {
            ASSERT_TRUE(has(to + "/" + n)) << n;
            EXPECT_EQ(at(to + "/" + n), at(from + "/" + n)) << n;
            EXPECT_EQ(mtime(to + "/" + n), mtime(from + "/" + n)) << n;
        }
        EXPECT_TRUE(temporaries(to).empty());
    }
    // The log lines after their stamps, the stamp being the same for all.
    std::vector<std::string> logTexts() {
        std::vector<std::string> out;
        for (const auto& l : log()) out.push_back(l.substr(l.find(' ') + 1));
        return out;
    }
};

// Copies that finish out of order are still logged in the order of the
// list, each directory's count after its failures.
TEST_F(ParallelTest, FailuresAreLoggedInTheListsOrderWhateverFinishesFirst) {
    files(60);
    load();
    eos.copyFault = Fault{"f007", -1, os::Errc::io, "disk on fire"};
    // The early files are slow, so that later ones finish before them.
    eos.duringCopy = [](const std::string& to) {
        (void)to;
        static thread_local int n = 0;
        if (++n % 3 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    };
    eos.renameFault = Fault{"f031.txt"};
    eos.renameFault->reason = "no room";
    run();
    eos.duringCopy = nullptr;
    const auto lines = logTexts();
    const std::string f007 = data / "s/f007.txt";
    const std::string f031 = data / "s/f031.txt";
    const std::vector<std::string> expected{
        f007 + ": not copied: copy " + f007 + ": disk on fire",
        f031 + ": not copied: rename " + (data / "t") + os::separator(),
        "58 files copied/moved",
    };
    ASSERT_EQ(lines.size(), expected.size()) << ::testing::PrintToString(lines);
    EXPECT_EQ(lines[0], expected[0]);
    EXPECT_EQ(lines[1].rfind(expected[1], 0), 0u) << lines[1];
    EXPECT_NE(lines[1].find("no room"), std::string::npos) << lines[1];
    EXPECT_EQ(lines[2], expected[2]);
    EXPECT_GT(eos.peakCopying, 1) << "the copies were made one at a time";
    EXPECT_FALSE(has("t/f007.txt"));
    EXPECT_FALSE(has("t/f031.txt"));
    EXPECT_TRUE(temporaries("t").empty()) << "the copy whose rename failed is removed";
    for (const char* n : {"f000.txt", "f006.txt", "f008.txt", "f030.txt", "f059.txt"})
        EXPECT_EQ(at(std::string("t/") + n), at(std::string("s/") + n)) << n;
}

// A whole tree, its subdirectories made, in move mode: every source goes
// only once its copy is checked, and a copy that fails keeps its source.
TEST_F(ParallelTest, AMoveDeletesOnlySourcesWhoseCopiesAreThere) {
    files(40);
    files(25, "s/sub");
    files(5, "s/sub/deeper");
    const std::string before = at("s/f013.txt");
    load("YES");
    form->Movefiles_Click();
    eos.copyFault = Fault{"f013"};
    run();
    EXPECT_EQ(at("s/f013.txt"), before) << "its copy failed: kept";
    EXPECT_EQ(at("s/sub/f013.txt"), before);
    EXPECT_FALSE(has("t/f013.txt"));
    EXPECT_EQ(names(data / "s").size(), 2u) << "f013.txt and sub";
    for (int i : {0, 12, 14, 39}) {
        char n[16];
        std::snprintf(n, sizeof n, "f%03d.txt", i);
        EXPECT_FALSE(has(std::string("s/") + n)) << n;
        EXPECT_TRUE(has(std::string("t/") + n)) << n;
    }
    EXPECT_EQ(names(data / "t/sub/deeper").size(), 5u);
    EXPECT_GT(eos.peakCopying, 1) << "the copies were made one at a time";
    EXPECT_EQ(names(data / "s/sub/deeper").size(), 0u);
    // Each copy whose source was deleted was flushed before it.
    for (bool d : eos.durables) EXPECT_TRUE(d);
    EXPECT_EQ(logWith("files copied/moved").size(), 3u);
    EXPECT_EQ(logWith("39 files copied/moved").size(), 1u);
    EXPECT_EQ(logWith("24 files copied/moved").size(), 1u);
    EXPECT_EQ(logWith("5 files copied/moved").size(), 1u);
    EXPECT_TRUE(temporaries("t").empty());
    EXPECT_TRUE(temporaries("t/sub").empty());
}

// The questions come one at a time in the list's order, and only the
// files answered Yes are copied.
TEST_F(ParallelTest, ConfirmModeAsksInTheListsOrder) {
    files(12);
    load();
    form->CC_Click();
    for (int i = 0; i < 12; ++i) dialogs.answers.push_back(i % 2 == 0);
    run();
    std::vector<std::string> asked;
    for (const auto& b : dialogs.boxes)
        if (b.kind == "ask") asked.push_back(b.text);
    ASSERT_EQ(asked.size(), 12u);
    for (int i = 0; i < 12; ++i) {
        char n[32];
        std::snprintf(n, sizeof n, "Copy File f%03d.txt?", i);
        EXPECT_EQ(asked[static_cast<std::size_t>(i)], n);
        std::snprintf(n, sizeof n, "t/f%03d.txt", i);
        EXPECT_EQ(has(n), i % 2 == 0) << n;
    }
    EXPECT_EQ(logWith("6 files copied/moved").size(), 1u);
}

// The program ends while copies are in flight: they stop, leave no
// temporary file, and nothing under a target's name is torn.
TEST_F(ParallelTest, EndingWithCopiesInFlightLeavesNothingTorn) {
    for (int i = 0; i < 40; ++i) {
        char n[16];
        std::snprintf(n, sizeof n, "big%02d.bin", i);
        file(std::string("s/") + n, std::string(3u << 20, static_cast<char>('a' + i % 26)));
    }
    load();
    // Once ten copies have begun, the copies hold until the end has come,
    // so that it finds them going and more waiting.
    std::atomic<bool> ended{false};
    eos.duringCopy = [&](const std::string&) {
        for (int i = 0; i < 20000 && !ended && eos.count(eos.copiedCopy(), "big") >= 10; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::this_thread::sleep_for(std::chrono::microseconds(300));
    };
    runWith(
        [&] {
            form->Exit_Click();
            ended = true;
        },
        [&] { return eos.count(eos.copiedCopy(), "big") >= 10; });
    eos.duringCopy = nullptr;
    EXPECT_TRUE(temporaries("t").empty());
    int whole = 0;
    for (const auto& n : names(data / "t")) {
        EXPECT_EQ(at("t/" + n), at("s/" + n)) << n;
        ++whole;
    }
    EXPECT_LT(whole, 40) << "the run went on to the end";
    EXPECT_GT(eos.peakCopying, 1) << "the copies were made one at a time";
    EXPECT_TRUE(logWith("not copied").empty()) << "a copy cut short is not a failure";
}

// A target the user made read-only is left alone, as one at a time.
TEST_F(ParallelTest, ReadOnlyTargetsStayAsTheyAre) {
    files(20);
    file("t/f004.txt", "mine", kTime - 100);
    namespace fs = std::filesystem;
    fs::permissions(data / "t/f004.txt",
                    fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    load();
    run();
    EXPECT_EQ(at("t/f004.txt"), "mine");
    EXPECT_EQ(logWith("f004.txt: not copied, its target " + (data / "t/f004.txt") + " is read-only")
                  .size(),
              1u);
    EXPECT_EQ(logWith("19 files copied/moved").size(), 1u);
    fs::permissions(data / "t/f004.txt", fs::perms::owner_write, fs::perm_options::add);
}

// The copies of a directory go on while the walk reads the next one, and
// the log still tells each directory whole, in the walk's order.
TEST_F(ParallelTest, DirectoriesOverlapAndTheLogKeepsTheWalksOrder) {
    files(16);
    files(16, "s/a");
    files(16, "s/b");
    load("YES");
    eos.copyFault = Fault{"f005", -1, os::Errc::io, "bad sector"};
    std::mutex m;
    std::multiset<std::string> active;
    bool overlapped = false;
    eos.duringCopy = [&](const std::string& to) {
        const std::string dir = to.substr(0, to.rfind(os::separator()));
        {
            std::lock_guard<std::mutex> lock(m);
            active.insert(dir);
            overlapped |= active.count(dir) != active.size();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(3));
        std::lock_guard<std::mutex> lock(m);
        active.erase(active.find(dir));
    };
    run();
    eos.duringCopy = nullptr;
    // Where names fold, a directory is finished before the next.
    if (os::case_insensitive_names())
        EXPECT_FALSE(overlapped);
    else
        EXPECT_TRUE(overlapped) << "no two directories' copies were ever in flight together";
    std::vector<std::string> told;
    for (const auto& l : logTexts())
        if (l.find("bad sector") != std::string::npos)
            told.push_back(l.substr(0, l.find(": not copied")));
        else
            told.push_back(l);
    // Each directory's failure just before its count; the subdirectories
    // in the order the system lists them.
    const std::string s = data / "s";
    const char sep = os::separator();
    const std::string a = s + sep + "a" + sep + "f005.txt", b = s + sep + "b" + sep + "f005.txt";
    const std::string n = "15 files copied/moved";
    const bool aFirst = !told.empty() && told.size() > 2 && told[2] == a;
    EXPECT_EQ(told, (std::vector<std::string>{s + sep + "f005.txt", n, aFirst ? a : b, n,
                                              aFirst ? b : a, n}));
    EXPECT_EQ(names(data / "t/a").size(), 15u);
    EXPECT_EQ(names(data / "t/b").size(), 15u);
    EXPECT_TRUE(temporaries("t/a").empty());
}

// Which names may be copied beside others where names fold: only those no
// volume takes for a name the program folds otherwise.
TEST(PlainNames, OnlyNamesNoVolumeJoinsToAnotherAreCopiedBesideOthers) {
    using engine::detail::plainly_apart;
    for (const char* n : {"f007.txt", "Read Me.md", "a-b_c (1).txt", ".hidden"})
        EXPECT_TRUE(plainly_apart(n)) << n;
    // A short name, trailing dots and blanks, letters beyond ASCII.
    for (const char* n : {"LONGFI~1.TXT", "notes.", "notes ", "\u212a.txt", "\u0531x.txt",
                          "caf\u00e9.txt", "tab\there", ""})
        EXPECT_FALSE(plainly_apart(n)) << n;
}

}  // namespace
}  // namespace qm::test
