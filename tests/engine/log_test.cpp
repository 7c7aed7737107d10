// syncfile.log: its lines, when they are written, and a log that fails.
#include <filesystem>

#include "fixture.h"

namespace qm::test {
namespace {

using LogTest = EngineTest;

TEST_F(LogTest, TheLineHasTheDateTimeAndCountAndEndsInCrLf) {
    load({{"s", "t", "NO"}});
    for (int i = 0; i < 10; ++i) file("s/f" + std::to_string(i) + ".txt", "x");
    clock.time = {2026, 12, 31, 23, 59, 58, 999};
    run();
    EXPECT_EQ(read(prog / "syncfile.log"), "12-31-2026/23:59:58- 10 files copied/moved\r\n");
    // Single digits get their leading zero.
    clock.time = {2027, 1, 2, 3, 4, 5, 0};
    file("s/new.txt", "new");
    run();
    EXPECT_EQ(log().back(), "01-02-2027/03:04:05- 1 files copied/moved");
}

TEST_F(LogTest, TheLogIsCreatedWhenMissingAndOnlyEverAppendedTo) {
    load({{"s", "t", "NO"}});
    file("s/a.txt", "a");
    ASSERT_FALSE(exists(prog / "syncfile.log"));
    run();
    EXPECT_EQ(log(), (std::vector<std::string>{copiedLine(1)}));
    write(prog / "syncfile.log", "an old line\r\n" + read(prog / "syncfile.log"));
    file("s/b.txt", "b");
    run();
    EXPECT_EQ(log(), (std::vector<std::string>{"an old line", copiedLine(1), copiedLine(1)}));
}

TEST_F(LogTest, NothingCopiedWritesNothingAndWithoutCheck2NothingIsWritten) {
    load({{"s", "t", "YES"}});
    file("s/same.txt", "same");
    file("t/same.txt", "same");
    run();
    EXPECT_FALSE(exists(prog / "syncfile.log"));

    form->Check2.setValue(0);
    file("s/a.txt", "a");
    file("s/sub/b.txt", "b");
    eos.copyFault = Fault{"b.txt"};
    run();
    EXPECT_EQ(at("t/a.txt"), "a");
    EXPECT_FALSE(exists(prog / "syncfile.log")) << "failures are not logged either";
}

TEST_F(LogTest, ThreeDirectoriesWithCopiesGiveThreeLinesTheTopDirectorysFirst) {
    load({{"s", "t", "YES"}});
    file("s/1.txt", "1");
    file("s/2.txt", "2");
    file("s/3.txt", "3");
    file("s/a/x.txt", "x");
    file("s/b/y.txt", "y");
    file("s/c/same.txt", "same");
    file("t/c/same.txt", "same");
    run();
    EXPECT_EQ(log(), (std::vector<std::string>{copiedLine(3), copiedLine(1), copiedLine(1)}));
}

TEST_F(LogTest, AFailedCopyIsNotCountedAndGetsItsOwnLineWithPathAndReason) {
    load({{"s", "t", "NO"}});
    file("s/a.txt", "a");
    file("s/b.txt", "b");
    file("s/c.txt", "c");
    eos.copyFault = Fault{"b.txt", -1, os::Errc::access, "injected denial"};
    run();
    EXPECT_EQ(log(), (std::vector<std::string>{"03-04-2026/05:06:07- " + (data / "s/b.txt") +
                                                   ": not copied: copy " + (data / "s/b.txt") +
                                                   ": injected denial",
                                               copiedLine(2)}));
}

// A program killed in the middle of a write can leave a line cut off at a
// page of the file. The next run with the log on ends it, and removes
// nothing; a run with the log off leaves the file alone.
TEST_F(LogTest, ALineCutOffByAKillIsEndedByTheNextRunAndNothingIsRemoved) {
    load({{"s", "t", "NO"}});
    file("s/same.txt", "same");
    file("t/same.txt", "same");
    const std::string whole = "03-04-2026/05:06:07- 4 files copied/moved\r\n";
    const std::string cut = whole + "12-10-2026/12:20:55- 1 fil";

    write(prog / "syncfile.log", whole);
    run();
    EXPECT_EQ(read(prog / "syncfile.log"), whole) << "a whole log is not touched";

    write(prog / "syncfile.log", cut);
    form->Check2.setValue(0);
    run();
    EXPECT_EQ(read(prog / "syncfile.log"), cut) << "the log is off";

    form->Check2.setValue(1);
    run();
    EXPECT_EQ(read(prog / "syncfile.log"), cut + "\r\n") << "nothing to log, still ended";
    run();
    EXPECT_EQ(read(prog / "syncfile.log"), cut + "\r\n") << "ended once";

    // Logged lines of a run start on a line of their own.
    write(prog / "syncfile.log", cut);
    file("s/a.txt", "a");
    run();
    EXPECT_EQ(log(), (std::vector<std::string>{"03-04-2026/05:06:07- 4 files copied/moved",
                                               "12-10-2026/12:20:55- 1 fil", copiedLine(1)}));
}

TEST_F(LogTest, ALogThatCannotBeWrittenNeverStopsTheRun) {
    load({{"s", "t", "YES"}});
    file("s/a.txt", "a");
    file("s/sub/b.txt", "b");
    // A directory where the log should be: it cannot be opened at all.
    mkdirs(prog / "syncfile.log");
    run();
    EXPECT_EQ(at("t/a.txt"), "a");
    EXPECT_EQ(at("t/sub/b.txt"), "b");
    remove_tree(prog / "syncfile.log");
    // A full disk: every append fails.
    eos.appendFault = Fault{"syncfile.log", -1, os::Errc::no_space, "injected full disk"};
    file("s/c.txt", "c");
    file("s/sub/d.txt", "d");
    eos.copyFault = Fault{"e.txt"};  // a failure to report, too
    file("s/e.txt", "e");
    run();
    EXPECT_EQ(at("t/c.txt"), "c");
    EXPECT_EQ(at("t/sub/d.txt"), "d");
    EXPECT_FALSE(exists(prog / "syncfile.log"));
    EXPECT_FALSE(form->running());
    EXPECT_EQ(form->Label1.caption(), form->countdownText(false));
}

// A pair and files named in several scripts, an 8-bit log from before,
// and a target the user made read-only: each is replicated and named in
// the log as it is. Windows has no code page for all of them: the batch
// and the log are UTF-8 behind the byte-order mark there.
TEST_F(LogTest, NamesOfEveryScriptAreReplicatedAndLoggedAsTheyAre) {
    const std::string lodz = "\xC5\x81\xC3\xB3\x64\xC5\xBA";  // Łódź
    const std::string source = "uni/" + lodz;
    const std::string target = "uni/c\xC3\xADl-\xE7\x9B\xAE\xE6\xA8\x99-\xF0\x9F\x8E\xAF";
    const std::string sub = "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E-\xF0\x9F\x98\x80";
    const std::string ro = "ro-" + lodz + "-\xE6\x97\xA5\xE6\x9C\xAC-\xF0\x9F\x98\x80.txt";
    const std::string cafe = "an old line caf\xC3\xA9";
    load({{source, target, "YES"}});
    // What a look-alike of the code page 1252 would make of the source.
    file("uni/L\xC3\xB3\x64z/decoy.txt", "decoy");
    file(source + "/a.txt", "a");
    file(source + "/" + sub + "/b.txt", "b");
    file(source + "/" + ro, "new");
    file(target + "/" + ro, "the user's own", kTime - 60);
    std::filesystem::permissions(std::filesystem::u8path(data / (target + "/" + ro)),
                                 std::filesystem::perms::owner_write |
                                     std::filesystem::perms::group_write |
                                     std::filesystem::perms::others_write,
                                 std::filesystem::perm_options::remove);
    write(prog / "syncfile.log", os::text_to_file(cafe + "\r\n"));
    run();
    EXPECT_EQ(at(target + "/a.txt"), "a");
    EXPECT_EQ(at(target + "/" + sub + "/b.txt"), "b");
    EXPECT_EQ(at(target + "/" + ro), "the user's own");
    EXPECT_EQ(names(data / target), (std::vector<std::string>{"a.txt", ro, sub}));
    const auto lines = log();
    ASSERT_EQ(lines.size(), 4u) << read(prog / "syncfile.log");
    EXPECT_EQ(lines[0], cafe);
    EXPECT_NE(lines[1].find(data / (target + "/" + ro)), std::string::npos) << lines[1];
    EXPECT_NE(lines[1].find("read-only"), std::string::npos) << lines[1];
    EXPECT_EQ(lines[2], copiedLine(1));
    EXPECT_EQ(lines[3], copiedLine(1));
    EXPECT_EQ(read(prog / "syncfile.log").starts_with("\xEF\xBB\xBF"), os::separator() == '\\');
    std::filesystem::permissions(std::filesystem::u8path(data / (target + "/" + ro)),
                                 std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add);
}

}  // namespace
}  // namespace qm::test
