// Two starts from one program folder: the second wakes the first and runs
// nothing; copies in other folders run alongside. Real lock files in fresh
// folders.
#include "ui/instance.h"

#include <gtest/gtest.h>

#include <chrono>

#include "support/tempdir.h"

namespace qm::test {
namespace {

using ui::claimInstance;
using ui::Start;

const std::string kBatch = "[batch]\r\nSource:/a\r\nTarget:/b\r\nSubs:YES\r\n";

// Counts the calls; a wake that must not happen fails the test.
struct Wake {
    int calls = 0;
    bool answer = true;
    std::function<void()> onCall;
    std::function<bool()> fn() {
        return [this] {
            ++calls;
            if (onCall) onCall();
            return answer;
        };
    }
};

TEST(Instance, ASecondStartInTheSameFolderWakesTheFirstAndTouchesNothing) {
    TempDir prog;
    write(prog / "BATCH.INI", kBatch);
    Wake wake;
    auto first = claimInstance(prog.path(), wake.fn());
    ASSERT_EQ(first.start, Start::run);
    EXPECT_TRUE(first.hold);
    EXPECT_FALSE(first.error);
    EXPECT_EQ(wake.calls, 0) << "the first start has nobody to wake";

    auto second = claimInstance(prog.path(), wake.fn());
    EXPECT_EQ(second.start, Start::woken);
    EXPECT_FALSE(second.hold);
    EXPECT_EQ(wake.calls, 1);
    // And a third, while the first still runs.
    EXPECT_EQ(claimInstance(prog.path(), wake.fn()).start, Start::woken);
    EXPECT_EQ(wake.calls, 2);

    EXPECT_EQ(read(prog / "BATCH.INI"), kBatch);
    EXPECT_EQ(names(prog.path()), (std::vector<std::string>{"BATCH.INI", "quillmere.lock"}));
    first.hold.reset();
}

TEST(Instance, CopiesInOtherFoldersRunAlongside) {
    TempDir prog;
    TempDir other;
    mkdirs(prog / "sub");
    Wake never;
    never.onCall = [] { ADD_FAILURE() << "a copy in another folder woke the first"; };
    auto first = claimInstance(prog.path(), never.fn());
    auto beside = claimInstance(other.path(), never.fn());
    // A folder below the first one's is another folder too.
    auto below = claimInstance(prog / "sub", never.fn());
    EXPECT_EQ(first.start, Start::run);
    EXPECT_EQ(beside.start, Start::run);
    EXPECT_EQ(below.start, Start::run);
    EXPECT_TRUE(first.hold && beside.hold && below.hold);
    EXPECT_NE(ui::instanceKey(prog.path()), ui::instanceKey(other.path()));
    EXPECT_NE(ui::instanceKey(prog.path()), ui::instanceKey(prog / "sub"));
    below.hold.reset();
    beside.hold.reset();
    first.hold.reset();
}

TEST(Instance, OnceTheFirstHasEndedTheNextStartRuns) {
    TempDir prog;
    Wake never;
    never.onCall = [] { ADD_FAILURE() << "woke an instance that had ended"; };
    auto first = claimInstance(prog.path(), never.fn());
    ASSERT_EQ(first.start, Start::run);
    first.hold.reset();
    auto next = claimInstance(prog.path(), never.fn());
    EXPECT_EQ(next.start, Start::run);
    EXPECT_TRUE(next.hold);
    // The lock file left behind by the first is no obstacle.
    EXPECT_TRUE(exists(prog / "quillmere.lock"));
    next.hold.reset();
}

TEST(Instance, AStartThatFindsTheFirstEndingRunsInItsPlace) {
    TempDir prog;
    auto first = claimInstance(prog.path(), [] { return true; });
    ASSERT_EQ(first.start, Start::run);
    // The first does not answer (it is ending) and lets go at the third try.
    Wake ending;
    ending.answer = false;
    ending.onCall = [&] {
        if (ending.calls == 3) first.hold.reset();
    };
    auto second = claimInstance(prog.path(), ending.fn(), 5000);
    EXPECT_EQ(second.start, Start::run);
    EXPECT_TRUE(second.hold);
    EXPECT_EQ(ending.calls, 3);
    // Now the second is the one a third start wakes.
    EXPECT_EQ(claimInstance(prog.path(), [] { return true; }).start, Start::woken);
    second.hold.reset();
}

TEST(Instance, AFirstThatNeverAnswersIsLeftRunningAloneAfterThePatience) {
    TempDir prog;
    auto first = claimInstance(prog.path(), [] { return true; });
    ASSERT_EQ(first.start, Start::run);
    Wake deaf;
    deaf.answer = false;
    const auto t0 = std::chrono::steady_clock::now();
    auto second = claimInstance(prog.path(), deaf.fn(), 400);
    const auto waited = std::chrono::steady_clock::now() - t0;
    EXPECT_EQ(second.start, Start::unreached);
    EXPECT_FALSE(second.hold);
    EXPECT_GE(waited, std::chrono::milliseconds(400));
    EXPECT_LT(waited, std::chrono::seconds(5));
    EXPECT_GE(deaf.calls, 3) << "asked again while waiting";
    // The first still holds the folder.
    EXPECT_EQ(claimInstance(prog.path(), [] { return true; }).start, Start::woken);
    first.hold.reset();
}

TEST(Instance, AFolderWhereNoLockCanBeMadeRunsUnguarded) {
    TempDir d;
    Wake never;
    never.onCall = [] { ADD_FAILURE() << "no lock, yet it tried to wake"; };
    const std::string gone = d / "gone";
    auto c = claimInstance(gone, never.fn());
    EXPECT_EQ(c.start, Start::run);
    EXPECT_FALSE(c.hold);
    ASSERT_TRUE(c.error);
    EXPECT_EQ(c.error->path, os::join(gone, "quillmere.lock"));
    EXPECT_FALSE(exists(gone));
}

TEST(Instance, TheKeyIsTheSameForEveryStartFromOneFolder) {
    TempDir prog;
    const std::string key = ui::instanceKey(prog.path());
    EXPECT_EQ(key.size(), 16u);
    EXPECT_EQ(key.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_EQ(ui::instanceKey(prog.path()), key);
    // Spelt in another case it is the same folder only where names ignore case.
    std::string upper = prog.path();
    for (auto& c : upper)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    ASSERT_NE(upper, prog.path());
    EXPECT_EQ(ui::instanceKey(upper) == key, os::case_insensitive_names());
}

}  // namespace
}  // namespace qm::test
