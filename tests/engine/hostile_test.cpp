// Trees that change or fight back during a run: each bad file or
// directory is skipped with a log line and the run goes on.
#include "fixture.h"

namespace qm::test {
namespace {

using HostileTest = EngineTest;

TEST_F(HostileTest, AFileThatVanishesBeforeItsTurnIsSkipped) {
    load({{"s", "t", "NO"}});
    file("s/a.txt", "a");
    file("s/b.txt", "b");
    file("s/c.txt", "c");
    runWith([&] { remove_tree(data / "s/b.txt"); }, [&] { return has("t/a.txt"); });
    EXPECT_EQ(at("t/c.txt"), "c");
    EXPECT_FALSE(has("t/b.txt"));
    EXPECT_EQ(logWith(data / "s/b.txt: skipped").size(), 1u);
    EXPECT_EQ(logWith("files copied/moved"), (std::vector<std::string>{copiedLine(2)}));
}

TEST_F(HostileTest, ATargetSubdirectoryThatCannotBeCreatedIsSkippedWithItsSubtree) {
    load({{"s", "t", "YES"}});
    file("s/bad/x.txt", "x");
    file("s/bad/deeper/y.txt", "y");
    file("s/good/z.txt", "z");
    eos.makeDirFault = Fault{data / "t/bad", -1, os::Errc::access, "injected denial"};
    run();
    EXPECT_EQ(at("t/good/z.txt"), "z");
    EXPECT_FALSE(has("t/bad"));
    const auto said = logWith("injected denial");
    ASSERT_EQ(said.size(), 1u) << "one line for the directory and all below it";
    EXPECT_NE(said[0].find(data / "s/bad"), std::string::npos);
}

TEST_F(HostileTest, ATargetSubdirectoryNameTakenByAFileIsSkipped) {
    load({{"s", "t", "YES"}});
    file("s/sub/a.txt", "a");
    file("s/sub/inner/b.txt", "b");
    file("s/ok/c.txt", "c");
    file("t/sub", "a file of the user's");
    run();
    EXPECT_EQ(at("t/sub"), "a file of the user's");
    EXPECT_EQ(at("t/ok/c.txt"), "c");
    ASSERT_EQ(logWith("is not a directory").size(), 1u);
    EXPECT_EQ(logWith("not created").size(), 0u);
}

TEST_F(HostileTest, ASourceSubdirectoryGoneWhenItsTurnComesIsSkipped) {
    load({{"s", "t", "YES"}});
    file("s/top.txt", "t");
    file("s/gone/a.txt", "a");
    file("s/gone/below/b.txt", "b");
    file("s/stays/c.txt", "c");
    // After the listing, while the top directory's files are copied.
    runWith([&] { remove_tree(data / "s/gone"); }, [&] { return inFileLoop(); });
    EXPECT_EQ(at("t/stays/c.txt"), "c");
    EXPECT_FALSE(has("t/gone"));
    EXPECT_EQ(logWith(data / "s/gone: skipped").size(), 1u);
}

TEST_F(HostileTest, AnUnreadableSourceDirectoryIsSkippedWithALogLineAndTheRunGoesOn) {
    load({{"s", "t", "YES"}});
    file("s/a.txt", "a");
    file("s/locked/hidden-from-us.txt", "x");
    mkdirs(data / "s/locked/inner");
    file("s/zz/b.txt", "b");
    eos.listFault = Fault{data / "s/locked", -1, os::Errc::access, "injected denial"};
    run();
    EXPECT_EQ(at("t/a.txt"), "a");
    EXPECT_EQ(at("t/zz/b.txt"), "b");
    EXPECT_FALSE(has("t/locked/hidden-from-us.txt"));
    EXPECT_FALSE(logWith("injected denial").empty());
    EXPECT_FALSE(form->running());
}

// Listed, then unreadable when its turn comes: one line, and nothing below
// it is walked (its subdirectories would fail the same way).
TEST_F(HostileTest, APairThatCannotBeReadWhenItsTurnComesIsSkippedWithItsSubtree) {
    for (auto side : {"s/locked", "t/locked"}) {
        SCOPED_TRACE(side);
        load({{"s", "t", "YES"}});
        file("s/top.txt", "top");
        file("s/locked/a.txt", "new");
        file("s/locked/inner/b.txt", "b");
        file("s/open/c.txt", "c");
        file("t/locked/a.txt", "the user's, unseen");
        const std::string reason = std::string("injected denial of ") + side;
        runWith(
            [&] {
                eos.listFault = Fault{data / side, -1, os::Errc::access, reason};
            },
            [&] { return inFileLoop(); });
        eos.listFault = std::nullopt;
        EXPECT_EQ(at("t/open/c.txt"), "c");
        EXPECT_EQ(at("t/locked/a.txt"), "the user's, unseen");
        EXPECT_FALSE(has("t/locked/inner"));
        const auto said = logWith(reason);
        ASSERT_EQ(said.size(), 1u);
        EXPECT_NE(said[0].find(data / "s/locked: skipped, with everything below it"),
                  std::string::npos)
            << said[0];
        remove_tree(data / "t");
    }
}

TEST_F(HostileTest, AnUnreadableTargetDirectoryIsNotWrittenInto) {
    load({{"s", "t", "NO"}});
    file("s/a.txt", "new");
    file("t/a.txt", "the user's, unseen");
    eos.listFault = Fault{data / "t", -1, os::Errc::access, "injected denial"};
    run();
    eos.listFault = std::nullopt;
    EXPECT_EQ(at("t/a.txt"), "the user's, unseen");
    EXPECT_FALSE(logWith("injected denial").empty());
}

// A subdirectory pair that is one directory under two names (a bind mount
// below the target, say): nothing is copied onto itself, nothing deleted.
class AliasOs : public EngineOs {
public:
    using EngineOs::EngineOs;
    std::string alias, of;
    os::Result<os::FileId> identity(const std::string& p) override {
        if (!alias.empty() && os::with_separator(p) == os::with_separator(alias))
            return inner_.identity(of);
        return inner_.identity(p);
    }
};

TEST_F(HostileTest, ASubdirectoryPairThatIsOneDirectoryIsLeftAlone) {
    AliasOs alias(prog.path(), lists.path());
    os::ScopedOs useAlias(alias);
    load({{"s", "t", "YES"}});
    file("s/sub/a.txt", "a");
    file("s/other/b.txt", "b");
    mkdirs(data / "t/sub");
    alias.alias = data / "t/sub";
    alias.of = data / "s/sub";
    form->Movefiles_Click();
    run();
    EXPECT_EQ(at("s/sub/a.txt"), "a");
    EXPECT_FALSE(has("t/sub/a.txt"));
    EXPECT_EQ(at("t/other/b.txt"), "b");
    EXPECT_FALSE(has("s/other/b.txt"));
    EXPECT_EQ(logWith(data / "t/sub is a directory of the source").size(), 1u);
}

}  // namespace
}  // namespace qm::test
