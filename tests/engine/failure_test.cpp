// Failures as values: each reaches a sink the engine is given, with its
// path, what it leaves undone and the system's reason, log on or off.
#include <filesystem>

#include "fixture.h"

namespace qm::test {
namespace {

struct Recorder : engine::FailureSink {
    void failed(const engine::Failure& f) override { got.push_back(f); }
    std::vector<engine::Failure> got;
};

class FailureTest : public EngineTest {
protected:
    void loadWithSink(const std::vector<Entry>& entries) {
        load(entries);
        form->engine().addFailureSink(&sink);
    }
    void makeReadOnly(const std::string& rel) {
        std::filesystem::permissions(std::filesystem::u8path(data / rel),
                                     std::filesystem::perms::owner_write |
                                         std::filesystem::perms::group_write |
                                         std::filesystem::perms::others_write,
                                     std::filesystem::perm_options::remove);
    }
    Recorder sink;
};

TEST_F(FailureTest, AReadOnlyTargetKeptIsToldWithTheLogOff) {
    loadWithSink({{"s", "t", "NO"}});
    form->Check2.setValue(0);
    file("s/ro.txt", "new");
    file("s/ok.txt", "ok");
    file("t/ro.txt", "the user's own", kTime - 60);
    makeReadOnly("t/ro.txt");
    run();
    EXPECT_EQ(at("t/ok.txt"), "ok");
    ASSERT_EQ(sink.got.size(), 1u);
    const auto& f = sink.got[0];
    EXPECT_EQ(f.path, data / "s/ro.txt");
    EXPECT_EQ(f.outcome, engine::Outcome::notCopied);
    EXPECT_STREQ(engine::outcome_words(f.outcome), "not copied");
    EXPECT_EQ(f.text, data / "s/ro.txt" + ": not copied, its target " + (data / "t/ro.txt") +
                          " is read-only");
    EXPECT_TRUE(f.reason.empty()) << "the run found it, not the system: " << f.reason;
    EXPECT_FALSE(exists(prog / "syncfile.log"));
    EXPECT_EQ(form->engine().copiedInRun(), 1);

    // In move mode the same file is not moved, and stays in the source.
    form->Movefiles_Click();
    sink.got.clear();
    run();
    ASSERT_EQ(sink.got.size(), 1u);
    EXPECT_EQ(sink.got[0].outcome, engine::Outcome::notMoved);
    EXPECT_EQ(at("s/ro.txt"), "new");
}

TEST_F(FailureTest, AMissingTargetDirectoryLeavesItsEntryNotReplicated) {
    // With its separator, the target stays in the batch though it is gone,
    // as one on a volume that is not mounted does.
    loadWithSink({{"s", "gone/", "NO"}, {"s2", "t2", "NO"}});
    file("s/a.txt", "a");
    file("s2/b.txt", "b");
    std::filesystem::remove_all(std::filesystem::u8path(data / "gone"));
    run();
    EXPECT_EQ(at("t2/b.txt"), "b") << "the next entry still runs";
    ASSERT_EQ(sink.got.size(), 1u);
    const auto& f = sink.got[0];
    EXPECT_EQ(f.outcome, engine::Outcome::notReplicated);
    EXPECT_EQ(f.path, os::with_separator(data / "s"));
    EXPECT_FALSE(f.reason.empty());
    EXPECT_EQ(f.text, f.path + ": not replicated: " + f.reason);
    // The log's line is the same account behind its stamp.
    ASSERT_EQ(log().size(), 2u);
    EXPECT_EQ(log()[0], "03-04-2026/05:06:07- " + f.text);
}

TEST_F(FailureTest, AFailedCopyCarriesTheSystemsReason) {
    loadWithSink({{"s", "t", "YES"}});
    file("s/a.txt", "a");
    file("s/sub/b.txt", "b");
    eos.copyFault = Fault{"b.txt", -1, os::Errc::io, "no space left on the stick"};
    run();
    EXPECT_EQ(at("t/a.txt"), "a");
    ASSERT_EQ(sink.got.size(), 1u);
    const auto& f = sink.got[0];
    EXPECT_EQ(f.path, data / "s/sub/b.txt");
    EXPECT_EQ(f.outcome, engine::Outcome::notCopied);
    EXPECT_NE(f.reason.find("no space left on the stick"), std::string::npos) << f.reason;
    EXPECT_EQ(f.text, f.path + ": not copied: " + f.reason);
    EXPECT_EQ(logWith(": not copied: "),
              std::vector<std::string>{"03-04-2026/05:06:07- " + f.text});
    EXPECT_EQ(form->engine().copiedInRun(), 1);
}

TEST_F(FailureTest, ASourceThatCannotBeDeletedIsKept) {
    loadWithSink({{"s", "t", "NO"}});
    form->Movefiles_Click();
    file("s/a.txt", "a");
    eos.deleteFault = Fault{"s" + std::string(1, os::separator()) + "a.txt"};
    run();
    EXPECT_EQ(at("t/a.txt"), "a");
    EXPECT_EQ(at("s/a.txt"), "a");
    ASSERT_EQ(sink.got.size(), 1u);
    EXPECT_EQ(sink.got[0].outcome, engine::Outcome::sourceKept);
    EXPECT_EQ(sink.got[0].path, data / "s/a.txt");
    EXPECT_NE(sink.got[0].reason.find("injected failure"), std::string::npos);
}

}  // namespace
}  // namespace qm::test
