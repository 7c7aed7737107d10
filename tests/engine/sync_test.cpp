// One directory pair: what is copied, what is left, what the window shows,
// confirmation, and the walk through the subdirectories.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "fixture.h"

namespace qm::test {
namespace {

using SyncTest = EngineTest;

// The order source and target lists are matched in: letters without their
// case first, then the shorter, then byte by byte. Pairs that share long
// beginnings, differ only in case, or in bytes around the letters.
TEST(ListOrder, NamesAreOrderedByFoldedLettersThenLengthThenBytes) {
    auto plain = [](const std::string& a, const std::string& b) {
        auto fold = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : int{c}; };
        for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i) {
            const int ca = fold(static_cast<unsigned char>(a[i]));
            const int cb = fold(static_cast<unsigned char>(b[i]));
            if (ca != cb) return ca < cb;
        }
        return a.size() != b.size() ? a.size() < b.size() : a < b;
    };
    const std::string letters = "aAzZ@[`{_0\xe9";
    std::uint32_t seed = 7;
    auto next = [&] { return seed = seed * 1664525u + 1013904223u, seed >> 8; };
    auto name = [&](const std::string& start) {
        std::string n = start;
        for (auto k = next() % 6; k > 0; --k) n += letters[next() % letters.size()];
        return n;
    };
    for (int i = 0; i < 20000; ++i) {
        const std::string start = i % 2 ? "A long shared beginning " : "";
        const std::string a = name(start), b = name(start);
        ASSERT_EQ(engine::listed_before(a, b), plain(a, b)) << a << " | " << b;
        ASSERT_EQ(engine::listed_before(b, a), plain(b, a)) << b << " | " << a;
    }
    EXPECT_TRUE(engine::listed_before("abc", "ABCD"));
    EXPECT_TRUE(engine::listed_before("ABC", "abc"));
    EXPECT_FALSE(engine::listed_before("abc", "ABC"));
    EXPECT_TRUE(engine::listed_before("a_", "Ab"));
    EXPECT_FALSE(engine::listed_before("same", "same"));
}

TEST_F(SyncTest, CopiesWhatDiffersByNameLengthOrTimeAndLeavesTheRest) {
    load({{"s", "t", "NO"}});
    file("s/new.txt", "new");
    file("s/same.txt", "same");
    file("t/same.txt", "same");
    file("s/newer.txt", "abc");
    file("t/newer.txt", "xyz", kTime + 100'000);  // same length, later time
    file("s/second.txt", "abc");
    file("t/second.txt", "abc", kTime + 1);  // one second apart
    file("s/longer.txt", "abcd");
    file("t/longer.txt", "abc");  // same time, other length
    file("s/Case.txt", "case");
    file("t/case.txt", "other");
    file("t/only-target.txt", "mine", kTime - 5);
    run();
    EXPECT_EQ(at("t/new.txt"), "new");
    EXPECT_EQ(mtime("t/new.txt"), kTime);
    EXPECT_EQ(at("t/newer.txt"), "abc") << "a newer target is replaced too";
    EXPECT_EQ(mtime("t/newer.txt"), kTime);
    EXPECT_EQ(mtime("t/second.txt"), kTime);
    EXPECT_EQ(at("t/longer.txt"), "abcd");
    EXPECT_EQ(at("t/Case.txt"), "case");
    EXPECT_EQ(at("t/only-target.txt"), "mine");
    EXPECT_EQ(mtime("t/only-target.txt"), kTime - 5);
    EXPECT_EQ(eos.count(eos.copied, "same.txt"), 0);
    EXPECT_EQ(eos.copied.size(), 5u);
    EXPECT_EQ(log(), (std::vector<std::string>{copiedLine(5)}));

    // The copies keep the source's time, so the next run finds them equal.
    eos.copied.clear();
    run();
    EXPECT_TRUE(eos.copied.empty());
    EXPECT_EQ(log().size(), 1u) << "a run that copies nothing writes nothing";
}

// Many names, sorted in pieces and merged: each source file is matched
// with the target file of exactly its name, whatever the case of the others.
TEST_F(SyncTest, ADirectoryOfManyFilesCopiesExactlyTheOnesThatDiffer) {
    load({{"s", "t", "NO"}});
    std::vector<std::string> expected;
    for (int i = 0; i < 5003; ++i) {
        const std::string n = (i % 2 ? "F" : "f") + std::to_string(i * 7919 % 5003) + ".txt";
        file("s/" + n, "x");
        switch (i % 5) {
            case 0:
                break;  // missing
            case 1:
                file("t/" + n, "x");
                continue;  // the same
            case 2:
                file("t/" + n, "xy");
                break;  // longer
            case 3:
                file("t/" + n, "x", kTime + 60);
                break;  // later
            case 4: {   // only the case differs
                std::string other = n;
                other[0] = other[0] == 'f' ? 'F' : 'f';
                file("t/" + other, "x");
                break;
            }
        }
        expected.push_back(data / ("s/" + n));
    }
    run();
    std::sort(expected.begin(), expected.end());
    auto copied = eos.copied;
    std::sort(copied.begin(), copied.end());
    EXPECT_EQ(copied, expected);
    EXPECT_EQ(log(), (std::vector<std::string>{copiedLine(static_cast<int>(expected.size()))}));
    eos.copied.clear();
    run();
    EXPECT_TRUE(eos.copied.empty());
}

TEST_F(SyncTest, OnlyWholeSecondsOfTheTimesCount) {
    load({{"s", "t", "NO"}});
    file("s/a.txt", "a");
    file("t/a.txt", "a");
    ASSERT_TRUE(os::native().set_mtime(data / "s/a.txt", {kTime, 900'000'000}));
    run();
    EXPECT_TRUE(eos.copied.empty());
}

TEST_F(SyncTest, HiddenFilesAreNeitherCopiedNorMatched) {
    load({{"s", "t", "NO"}});
    file("s/.hidden", "h");
    ASSERT_TRUE(os::native().make_hidden(data / "s/.hidden"));
    file("s/plain.txt", "new");
    file("t/plain.txt", "old", kTime - 1);
    run();
    EXPECT_FALSE(has("t/.hidden"));
    EXPECT_EQ(at("t/plain.txt"), "new");
    EXPECT_EQ(form->Text1.text().substr(0, 10), "1 File(s)\r");
}

TEST_F(SyncTest, CountsPathsAndProgressAreShownAndTheBarHiddenAfterwards) {
    load({{"s", "t", "NO"}});
    file("s/a.txt", "a");
    file("s/b.txt", "b");
    file("s/c.txt", "c");
    file("t/x.txt", "x");
    std::vector<int> values;
    bool shown = false;
    pump.hook = [&] {
        if (!form->running()) return;
        values.push_back(form->ProgressBar1.value());
        shown |= form->ProgressBar1.visible();
    };
    run();
    EXPECT_EQ(form->Text1.text(), "3 File(s)\r\n" + os::with_separator(data / "s"));
    EXPECT_EQ(form->Text2.text(), "1 File(s)\r\n" + os::with_separator(data / "t"));
    EXPECT_TRUE(shown);
    EXPECT_EQ(form->ProgressBar1.min(), 0);
    EXPECT_EQ(form->ProgressBar1.max(), 3);
    // The value is the index of the file in hand: the bar never fills.
    ASSERT_FALSE(values.empty());
    EXPECT_EQ(values.back(), 2);
    EXPECT_FALSE(form->ProgressBar1.visible());
}

TEST_F(SyncTest, AnEmptySourceShowsNoFilesAndABarOfOne) {
    load({{"s", "t", "NO"}});
    run();
    EXPECT_EQ(form->Text1.text(), "0 File(s)\r\n" + os::with_separator(data / "s"));
    EXPECT_EQ(form->ProgressBar1.max(), 1);
    EXPECT_TRUE(log().empty());
}

TEST_F(SyncTest, ConfirmationAsksForEachFileAndOnlyYesCopies) {
    load({{"s", "t", "NO"}});
#ifdef _WIN32
    const std::string tail;  // Windows drops trailing blanks from names
#else
    const std::string tail = "  ";
#endif
    for (auto n : {"1", "2", "3", "4", "5"}) file(std::string("s/ f") + n + ".txt" + tail, n);
    form->CC_Click();
    dialogs.answers = {true, false, true, false, false};
    run();
    ASSERT_EQ(dialogs.count("Question"), 5);
    EXPECT_EQ(dialogs.boxes[0].text, "Copy File f1.txt?") << "the name is trimmed";
    EXPECT_EQ(dialogs.boxes[0].kind, "ask");
    EXPECT_EQ(log(), (std::vector<std::string>{copiedLine(2)}));
    EXPECT_EQ(names(data / "t"), (std::vector<std::string>{" f1.txt" + tail, " f3.txt" + tail}));

    // Move mode asks to move; answering No to all copies and logs nothing.
    form->Movefiles_Click();
    dialogs.boxes.clear();
    dialogs.answers = {false, false, false};
    run();
    ASSERT_EQ(dialogs.count("Question"), 3);
    EXPECT_EQ(dialogs.boxes[0].text, "Move file f2.txt?");
    EXPECT_EQ(log().size(), 1u);
    EXPECT_EQ(names(data / "s").size(), 5u);
}

TEST_F(SyncTest, OptionsAreReadAtTheMomentOfUse) {
    load({{"s", "t", "NO"}});
    file("s/a.txt", "a");
    file("s/b.txt", "b");
    // Move mode switched on while the first copy yields: the first file
    // is moved at once (the delete comes after the yield), the second too.
    runWith([&] { form->Movefiles_Click(); });
    EXPECT_FALSE(has("s/a.txt"));
    EXPECT_FALSE(has("s/b.txt"));
    EXPECT_EQ(at("t/a.txt"), "a");

    // The log switched off during a run: no line for that directory.
    file("s/c.txt", "c");
    form->Movefiles_Click();
    const auto before = log().size();
    runWith([&] { form->Check2.setValue(0); });
    EXPECT_EQ(at("t/c.txt"), "c");
    EXPECT_EQ(log().size(), before);
}

TEST_F(SyncTest, OnlyNoInCapitalsTurnsTheWalkOff) {
    load({{"s1", "t1", "NO"}, {"s2", "t2", "no"}, {"s3", "t3", ""}, {"s4", "t4", "YES"}});
    std::map<std::string, bool> subs;  // entry's source -> Subs while its files are copied
    for (auto s : {"s1", "s2", "s3", "s4"}) {
        file(std::string(s) + "/top.txt", "t");
        file(std::string(s) + "/sub/f.txt", "f");
    }
    eos.duringCopy = [&](const std::string&) {
        subs[form->engine().SourceRoot] = form->Subs.checked();
    };
    run();
    EXPECT_FALSE(has("t1/sub"));
    EXPECT_EQ(at("t2/sub/f.txt"), "f");
    EXPECT_EQ(at("t3/sub/f.txt"), "f");
    EXPECT_EQ(at("t4/sub/f.txt"), "f");
    EXPECT_EQ(subs, (std::map<std::string, bool>{{os::with_separator(data / "s1"), false},
                                                 {os::with_separator(data / "s2"), true},
                                                 {os::with_separator(data / "s3"), true},
                                                 {os::with_separator(data / "s4"), true}}));
    // Subs keeps the value of the latest entry.
    EXPECT_TRUE(form->Subs.checked());
}

TEST_F(SyncTest, WithoutSubsTheListIsStillMadeAndThePauseTakenButNoTargetList) {
    load({{"s", "t", "NO"}});
    file("s/a/b/x.txt", "x");
    file("s/top.txt", "t");
    std::vector<std::string> during;
    // The list files are there until the run's end; look before it.
    runWith([&] { during = names(lists.path()); }, [&] { return inFileLoop(); });
    ASSERT_EQ(during.size(), 1u) << "only the source list";
    EXPECT_EQ(during[0], form->engine().SourceListName);
    EXPECT_NE(form->engine().TargetListName, form->engine().SourceListName);
    EXPECT_EQ(sleeper.slept, (std::vector<unsigned>{2000}));
    EXPECT_FALSE(has("t/a"));
    EXPECT_TRUE(names(lists.path()).empty()) << "the run deletes its list files";
}

TEST_F(SyncTest, MissingTargetDirectoriesAreCreatedTopDownBeforeTheirFiles) {
    load({{"s", "t", "YES"}});
    file("s/top.txt", "top");
    file("s/top2.txt", "top");
    file("s/a/b/c/deep.txt", "deep");
    file("s/a/one.txt", "one");
    file("s/z/last.txt", "last");
    std::vector<std::string> events;
    auto note = [&](const std::string& e) {
        if (std::find(events.begin(), events.end(), e) == events.end()) events.push_back(e);
    };
    eos.duringCopy = [&](const std::string& to) {
        for (auto d : {"t/a", "t/a/b", "t/a/b/c", "t/z"})
            if (has(d)) note(d);
        note("copy " + to.substr(0, to.rfind(os::separator())));
    };
    run();
    EXPECT_EQ(at("t/top.txt"), "top");
    EXPECT_EQ(at("t/a/one.txt"), "one");
    EXPECT_EQ(at("t/a/b/c/deep.txt"), "deep");
    EXPECT_EQ(at("t/z/last.txt"), "last");
    auto pos = [&](const std::string& e) {
        auto it = std::find(events.begin(), events.end(), e);
        EXPECT_NE(it, events.end()) << e;
        return it - events.begin();
    };
    EXPECT_EQ(pos("copy " + (data / "t")), 0) << "the top directory's files come first";
    EXPECT_LT(pos("t/a"), pos("copy " + (data / "t/a")));
    EXPECT_LT(pos("t/a/b"), pos("t/a/b/c"));
    EXPECT_LT(pos("t/a/b/c"), pos("copy " + (data / "t/a/b/c")));
    EXPECT_LT(pos("t/z"), pos("copy " + (data / "t/z")));
    // One line a directory that had copies, the top directory's first.
    EXPECT_EQ(log(), (std::vector<std::string>{copiedLine(2), copiedLine(1), copiedLine(1),
                                               copiedLine(1)}));
}

TEST_F(SyncTest, AnExistingTargetSubdirectoryIsUsedAsItIs) {
    load({{"s", "t", "YES"}});
    file("s/a/x.txt", "x");
    mkdirs(data / "t/a");
    file("t/a/mine.txt", "mine");
    run();
    EXPECT_EQ(at("t/a/x.txt"), "x");
    EXPECT_EQ(at("t/a/mine.txt"), "mine");
}

TEST_F(SyncTest, AfterAWalkThePickersAreBackOnTheEntry) {
    load({{"s", "t", "YES"}});
    file("s/a/x.txt", "x");
    file("s/b/y.txt", "y");
    std::vector<std::string> sources;
    pump.hook = [&] {
        if (form->running()) sources.push_back(form->BronTree.path());
    };
    run();
    // During the walk the views showed each subdirectory pair.
    EXPECT_NE(std::find(sources.begin(), sources.end(), data / "s/b"), sources.end());
    EXPECT_EQ(form->BronTree.path(), data / "s");
    EXPECT_EQ(form->Doeltree.path(), data / "t");
    EXPECT_EQ(form->Brondir.path(), data / "s");
    EXPECT_EQ(form->Doeldir.path(), data / "t");
}

// The walk opens each pair's trees from the file lists' own reads: the
// trees show the same directories, with their visible subdirectories, and
// no directory is read twice for it.
TEST_F(SyncTest, DuringTheWalkTheTreesShowWhatTheFileListsRead) {
    load({{"s", "t", "YES"}});
    file("s/a/x.txt", "x");
    mkdirs(data / "s/a/inner");
    mkdirs(data / "s/a/.hidden");
    ASSERT_TRUE(os::native().make_hidden(data / "s/a/.hidden"));
    mkdirs(data / "t/a/theirs");
    file("s/b/y.txt", "y");
    run();
    struct Seen {
        std::string tree, files;
        std::vector<std::string> subdirs;
    };
    std::vector<Seen> source, target;
    auto look = [](const ui::DirectoryList& tree, const ui::FileList& files) {
        Seen s{tree.path(), files.path(), {}};
        bool below = false;
        for (const auto& l : tree.lines()) {
            if (below) s.subdirs.push_back(l.label);
            below = below || l.open;
        }
        return s;
    };
    pump.hook = [&] {
        if (!form->running() || !inFileLoop() || form->BronTree.path() == data / "s") return;
        source.push_back(look(form->BronTree, form->Brondir));
        target.push_back(look(form->Doeltree, form->Doeldir));
    };
    file("s/a/new.txt", "new");  // a directory with a copy to make
    eos.listed.clear();
    run();
    ASSERT_FALSE(source.empty());
    for (std::size_t i = 0; i < source.size(); ++i) {
        EXPECT_EQ(source[i].tree, source[i].files);
        EXPECT_EQ(target[i].tree, target[i].files);
        if (source[i].tree == data / "s/a") {
            EXPECT_EQ(source[i].subdirs, std::vector<std::string>{"inner"});
            EXPECT_EQ(target[i].subdirs, (std::vector<std::string>{"inner", "theirs"}));
        }
    }
    EXPECT_EQ(at("t/a/new.txt"), "new");
    // Once for its files on each side; the source once more for the list
    // of subdirectories, which comes before the files.
    const auto listed = eos.listedCopy();
    // With or without a final separator.
    auto reads = [&](const std::string& what) {
        return std::count(listed.begin(), listed.end(), what) +
               std::count(listed.begin(), listed.end(), os::with_separator(what));
    };
    for (std::string d : {"a", "a/inner", "b"}) {
        EXPECT_EQ(reads("files " + (data / ("s/" + d))), 1) << d;
        EXPECT_EQ(reads("names " + (data / ("s/" + d))), 1) << d;
        EXPECT_EQ(reads("files " + (data / ("t/" + d))), 1) << d;
        EXPECT_EQ(reads("names " + (data / ("t/" + d))), 0) << d;
    }
}

TEST_F(SyncTest, ADirectoryCreatedInTheSourceDuringTheRunWaitsForTheNextRun) {
    load({{"s", "t", "YES"}});
    file("s/top.txt", "top");
    file("s/a/x.txt", "x");
    runWith([&] { file("s/late/y.txt", "y"); }, [&] { return inFileLoop(); });
    EXPECT_EQ(at("t/a/x.txt"), "x");
    EXPECT_FALSE(has("t/late"));
    run();
    EXPECT_EQ(at("t/late/y.txt"), "y");
}

// No more than about 50 ms of work between two yields: with each file of
// a list taking 5 ms to read, a yield comes at least every dozen files,
// also in the middle of reading one directory.
TEST_F(SyncTest, ALongListingYieldsAsItGoes) {
    load({{"s", "t", "NO"}});
    for (int i = 0; i < 60; ++i) {
        file("s/f" + std::to_string(i), "same");
        file("t/f" + std::to_string(i), "same");
    }
    int yields = 0;
    pump.hook = [&] { ++yields; };
    eos.statDelay = std::chrono::milliseconds(5);
    run();
    eos.statDelay = {};
    EXPECT_TRUE(eos.copied.empty());
    EXPECT_GE(yields, 60 * 2 * 5 / 60) << "two lists of 60 files";
}

TEST_F(SyncTest, ExitWhileAFileListIsReadStopsWithoutALogLine) {
    load({{"s", "t", "NO"}});
    for (int i = 0; i < 40; ++i) file("s/f" + std::to_string(i), "new");
    eos.statDelay = std::chrono::milliseconds(5);
    // In the middle of the engine's read of the source's 40 files (the
    // first read shows the batch's first pair when the run starts).
    eos.stats = 0;
    runWith([&] { form->Exit_Click(); }, [&] { return eos.stats > 40 && eos.stats < 80; });
    eos.statDelay = {};
    EXPECT_TRUE(form->ended());
    EXPECT_TRUE(eos.copied.empty());
    EXPECT_TRUE(log().empty()) << "a read cut short by the end is no failure";
}

TEST_F(SyncTest, ALargeCopyYieldsBetweenItsChunks) {
    load({{"s", "t", "NO"}});
    file("s/big.bin", std::string(17u << 20, 'z'));
    eos.duringCopy = [](const std::string&) {
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
    };
    int yieldsInCopy = 0;
    pump.hook = [&] { yieldsInCopy += !temporaries("t").empty(); };
    run();
    EXPECT_EQ(at("t/big.bin").size(), 17u << 20);
    EXPECT_GE(yieldsInCopy, 3) << "five chunks, each slower than the time between yields";
}

}  // namespace
}  // namespace qm::test
