// The tree listing and the two directory list files: order, format, what is
// left out, where the files go, cancelling, and failures.
#include <algorithm>
#include <functional>
#include <future>
#include <map>

#include "fixture.h"
#include "support/forwarding_os.h"

namespace qm::test {
namespace {

class ListingTest : public EngineTest {
protected:
    ListingTest() { load({{"s", "t", "YES"}}); }

    // Lists a tree straight into a fresh source list and returns its lines.
    std::vector<std::string> listTree(const std::string& root) {
        auto& e = form->engine();
        e.SourceListName = "01234567.DIR";
        write(lists / e.SourceListName, "");
        e.ListDirectoryTree(os::with_separator(root));
        return batch::split_lines(read(lists / e.SourceListName));
    }
    // The subdirectories of dir, in the order the system enumerates them.
    static std::vector<std::string> subdirs(const std::string& dir) {
        std::vector<std::string> out;
        const auto entries = os::native().list_dir(dir).value();
        for (const auto& e : entries)
            if (e.kind == os::Kind::dir) out.push_back(e.name);
        return out;
    }
};

TEST_F(ListingTest, EverySubdirectoryInPreOrderAsAbsolutePaths) {
    for (auto d : {"s/A/B", "s/A/B2/deep", "s/C", "s/D"}) mkdirs(data / d);
    file("s/A/file.txt", "files are not listed");
    const std::string root = os::with_separator(data / "s");
    const auto lines = listTree(data / "s");

    // The pre-order of the tree, siblings in enumeration order.
    std::vector<std::string> expected;
    std::function<void(const std::string&)> walk = [&](const std::string& dir) {
        for (const auto& n : subdirs(dir)) {
            expected.push_back(dir + n);
            walk(dir + n + os::separator());
        }
    };
    walk(root);
    ASSERT_EQ(expected.size(), 6u);
    EXPECT_EQ(lines, expected);
    // The file itself holds one path a line, each ended by CR LF.
    std::string bytes;
    for (const auto& l : expected) bytes += l + "\r\n";
    EXPECT_EQ(read(lists / "01234567.DIR"), bytes);
    EXPECT_FALSE(form->engine().ListingActive);
}

TEST_F(ListingTest, ARootWithoutSubdirectoriesLeavesTheListEmpty) {
    file("s/only-a-file.txt", "x");
    EXPECT_TRUE(listTree(data / "s").empty());
    EXPECT_EQ(read(lists / "01234567.DIR"), "");
}

TEST_F(ListingTest, DirectoriesNamedWithADotAreLeftOutWithEverythingBelow) {
    for (auto d : {"s/.git/objects", "s/.cache", "s/keep/.svn/x", "s/keep/inner"}) mkdirs(data / d);
    const auto lines = listTree(data / "s");
    std::vector<std::string> sorted = lines;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted, (std::vector<std::string>{data / "s/keep", data / "s/keep/inner"}));
}

TEST_F(ListingTest, TheBusyPointerShowsDuringTheListingAndNotAfter) {
    mkdirs(data / "s/a/b");
    std::vector<ui::MousePointer> seen;
    pump.hook = [&] { seen.push_back(form->mousePointer()); };
    listTree(data / "s");
    ASSERT_EQ(seen.size(), 3u) << "one yield at every level";
    for (auto p : seen) EXPECT_EQ(p, ui::MousePointer::Hourglass);
    EXPECT_EQ(form->mousePointer(), ui::MousePointer::Default);

    // Also after a failure ends the listing.
    eos.appendFault = Fault{"01234567.DIR"};
    EXPECT_TRUE(listTree(data / "s").empty());
    EXPECT_EQ(form->mousePointer(), ui::MousePointer::Default);
    EXPECT_FALSE(form->engine().ListingActive);
}

TEST_F(ListingTest, ASecondRequestCancelsTheListingAndListsNothingItself) {
    for (auto d : {"s/A/A1/A11", "s/B/B1", "s/C", "other/X"}) mkdirs(data / d);
    int yields = 0;
    pump.hook = [&] {
        // The second level's yield: the root has collected its names.
        if (++yields == 2) form->engine().ListDirectoryTree(os::with_separator(data / "other"));
    };
    const auto lines = listTree(data / "s");
    // The open root level still writes the names it holds; nothing deeper
    // is listed, and nothing of the second request.
    std::vector<std::string> expected;
    for (const auto& n : subdirs(data / "s")) expected.push_back(data / ("s/" + n));
    EXPECT_EQ(lines, expected);
    EXPECT_FALSE(form->engine().ListingActive);
    EXPECT_EQ(form->mousePointer(), ui::MousePointer::Default);
}

TEST_F(ListingTest, AFailureToWriteEndsTheListingAndKeepsTheLinesWritten) {
    // Long names, so that the list is written in more than one block.
    const std::string longName(200, 'n');
    for (int i = 0; i < 600; ++i) mkdirs(data / ("s/" + std::to_string(i) + longName + "/in"));
    const auto full = listTree(data / "s");
    ASSERT_EQ(full.size(), 1200u);

    // The second write fails.
    eos.appendFault = Fault{"01234567.DIR"};
    eos.appendFault->after = 1;
    int levels = 0;  // one yield a level
    pump.hook = [&] { ++levels; };
    const auto lines = listTree(data / "s");
    // What the first write took stays, as the start of the whole list;
    // nothing after the failure is listed or written.
    ASSERT_FALSE(lines.empty());
    ASSERT_LT(lines.size(), full.size());
    EXPECT_TRUE(std::equal(lines.begin(), lines.end(), full.begin()));
    EXPECT_LT(levels, 1201) << "the listing went on after the failure";
    EXPECT_FALSE(form->engine().ListingActive);
}

TEST_F(ListingTest, AnUnreadableDirectoryContributesNothingAndItsSiblingsAreListed) {
    for (auto d : {"s/locked/inner", "s/open/inner"}) mkdirs(data / d);
    eos.listFault = Fault{data / "s/locked", -1, os::Errc::access, "injected denial"};
    auto lines = listTree(data / "s");
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(lines, (std::vector<std::string>{data / "s/locked", data / "s/open",
                                               data / "s/open/inner"}));
    EXPECT_EQ(logWith("injected denial").size(), 1u);
}

TEST_F(ListingTest, ATargetInsideTheSourceIsLeftOutWithEverythingBelowIt) {
    writeBatch({{"s", "s/backup", "YES"}});  // the run reads the batch afresh
    file("s/a.txt", "a");
    file("s/sub/b.txt", "b");
    run();
    run();
    EXPECT_EQ(at("s/backup/a.txt"), "a");
    EXPECT_EQ(at("s/backup/sub/b.txt"), "b");
    EXPECT_FALSE(has("s/backup/backup"));
    EXPECT_EQ(names(data / "s/backup"), (std::vector<std::string>{"a.txt", "sub"}));
}

TEST_F(ListingTest, TheListFilesHaveFreshNamesOfEightOctalDigitsInTheWinbootdirDirectory) {
    file("s/a/x.txt", "x");
    std::map<std::string, int> seen;
    for (int i = 0; i < 3; ++i) {
        run();
        const auto& e = form->engine();
        for (const auto& n : {e.SourceListName, e.TargetListName}) {
            ASSERT_EQ(n.size(), 12u) << n;
            EXPECT_EQ(n.substr(8), ".DIR");
            EXPECT_TRUE(std::all_of(n.begin(), n.begin() + 8, [](char c) {
                return c >= '0' && c <= '7';
            })) << n;
            ++seen[n];
        }
        // Written where winbootdir points, and gone after the run.
        EXPECT_GE(eos.count(eos.written, lists / e.SourceListName), 1);
        EXPECT_GE(eos.count(eos.written, lists / e.TargetListName), 1);
    }
    EXPECT_EQ(seen.size(), 6u) << "two fresh names at every top-level call";
    EXPECT_TRUE(names(lists.path()).empty());
}

TEST_F(ListingTest, TheTargetListHoldsThePathsRelativeToTheRoot) {
    for (auto d : {"s/A/B", "s/C"}) mkdirs(data / d);
    file("s/C/x.txt", "x");
    std::string targetList, sourceList;
    // While the walk replicates C, both lists are complete.
    runWith(
        [&] {
            sourceList = read(lists / form->engine().SourceListName);
            targetList = read(lists / form->engine().TargetListName);
        },
        [&] { return has("t/C/x.txt"); });
    const std::string root = data / "s";
    std::string expected;
    for (const auto& line : batch::split_lines(sourceList)) {
        ASSERT_EQ(line.rfind(root, 0), 0u) << line;
        expected += line.substr(root.size()) + "\r\n";
    }
    EXPECT_EQ(targetList, expected);
    auto lines = batch::split_lines(targetList);
    std::sort(lines.begin(), lines.end());
    const std::string sep(1, os::separator());
    EXPECT_EQ(lines, (std::vector<std::string>{sep + "A", sep + "A" + sep + "B", sep + "C"}));
}

TEST_F(ListingTest, WithoutWinbootdirTheListsGoToAPrivateDirectoryInTheTemporaryDirectory) {
    TempDir temp;
    eos.temp = temp.path();
    const std::string own = temp / os::own_temp_name();
    for (std::optional<std::string> unset :
         {std::optional<std::string>(), std::optional<std::string>("")}) {
        eos.lists = unset;
        file("s/sub/a.txt", "a");
        eos.written.clear();
        run();
        EXPECT_EQ(at("t/sub/a.txt"), "a");
        EXPECT_GE(eos.count(eos.written, own + os::separator() + form->engine().SourceListName), 1);
        EXPECT_EQ(names(temp.path()), std::vector<std::string>{os::own_temp_name()});
        for (const auto& n : names(own)) EXPECT_FALSE(n.ends_with(".DIR")) << "removed: " << n;
        remove_tree(data / "t/sub");
    }
    remove_tree(own);
}

TEST_F(ListingTest, OnlyTheRunsOwnListFilesAreRemovedFromTheListDirectory) {
    file("s/sub/a.txt", "a");
    // Another program's files, and the lists of another instance running.
    for (auto n : {"notes.DIR", "01234567.DIR", "76543210.DIR"}) write(lists / n, "theirs");
    run();
    EXPECT_EQ(names(lists.path()),
              (std::vector<std::string>{"01234567.DIR", "76543210.DIR", "notes.DIR"}));
    EXPECT_EQ(at("t/sub/a.txt"), "a");
}

TEST_F(ListingTest, AListFileThatCannotBeWrittenStopsTheEntryWithALogLine) {
    file("s/a.txt", "a");
    file("s/sub/b.txt", "b");
    for (auto fault : {&EngineOs::writeFault, &EngineOs::appendFault}) {
        eos.*fault = Fault{lists.path(), -1, os::Errc::no_space, "injected full disk"};
        const auto before = logWith("injected full disk").size();
        run();
        eos.*fault = std::nullopt;
        EXPECT_FALSE(has("t/a.txt")) << "no silently shorter walk";
        EXPECT_FALSE(has("t/sub"));
        const auto said = logWith("injected full disk");
        ASSERT_EQ(said.size(), before + 1);
        EXPECT_NE(said.back().find("directory list could not be written"), std::string::npos)
            << said.back();
        EXPECT_NE(said.back().find(data / "s"), std::string::npos) << said.back();
    }
    run();
    EXPECT_EQ(at("t/sub/b.txt"), "b");
}

TEST_F(ListingTest, AWideAndDeepTreeIsListedInPreOrderReadingEachDirectoryOnce) {
    // Wide enough that the helper lists levels ahead, deep enough that it
    // and the listing meet at several levels.
    for (int i = 0; i < 60; ++i) {
        const std::string d = "s/d" + std::to_string(i);
        mkdirs(data / d);
        file(d + "/f.txt", "files are not listed");
        if (i % 5 == 0)
            for (int j = 0; j < 4; ++j)
                for (int k = 0; k < 3; ++k)
                    mkdirs(data / (d + "/c" + std::to_string(j) + "/g" + std::to_string(k)));
    }
    std::vector<std::string> expected;
    std::function<void(const std::string&)> walk = [&](const std::string& dir) {
        for (const auto& n : subdirs(dir)) {
            expected.push_back(dir + n);
            walk(dir + n + os::separator());
        }
    };
    walk(os::with_separator(data / "s"));
    ASSERT_EQ(expected.size(), 60u + 12 * 4 + 12 * 12);

    for (int round = 0; round < 3; ++round) {
        const auto before = eos.listedCopy().size();
        EXPECT_EQ(listTree(data / "s"), expected);
        const auto listed = eos.listedCopy();
        std::map<std::string, int> times;
        for (std::size_t i = before; i < listed.size(); ++i) ++times[listed[i]];
        for (const auto& d : expected) EXPECT_EQ(times["names " + os::with_separator(d)], 1) << d;
        EXPECT_EQ(listed.size() - before, expected.size() + 1) << "each directory and the root";
    }
}

}  // namespace
}  // namespace qm::test
