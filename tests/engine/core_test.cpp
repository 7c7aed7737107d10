// The engine on its own, with a window that only records what it is shown:
// a run reads its entry's directories itself, shows each pair as it reads
// it, and leaves no read going on behind it.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "batch/store.h"
#include "engine/engine.h"
#include "engine/pool.h"
#include "support/fake_host.h"
#include "support/forwarding_os.h"
#include "support/tempdir.h"

namespace qm::test {
namespace {

using engine::Side;

// Counts the reads of each directory's files, and those made on another
// thread than the run's; the directory lists go where the test says.
class CountingOs : public os::ForwardingOs {
public:
    explicit CountingOs(std::string lists) : os::ForwardingOs(os::native()), lists_(lists) {}
    std::optional<std::string> env(const std::string& n) override {
        if (n == "winbootdir") return lists_;
        return inner_.env(n);
    }
    os::Result<std::vector<os::DirEntry>> list_dir_detailed(
        const std::string& d, const std::function<bool()>& between) override {
        auto r = inner_.list_dir_detailed(d, between);
        std::lock_guard<std::mutex> lock(m_);
        ++reads_[os::with_separator(d)];
        ++total_;
        if (std::this_thread::get_id() != run_) ++ahead_;
        return r;
    }
    int reads(const std::string& d) {
        std::lock_guard<std::mutex> lock(m_);
        return reads_[os::with_separator(d)];
    }
    int total() {
        std::lock_guard<std::mutex> lock(m_);
        return total_;
    }
    int ahead() {
        std::lock_guard<std::mutex> lock(m_);
        return ahead_;
    }

private:
    std::string lists_;
    std::mutex m_;
    std::map<std::string, int> reads_;
    int total_ = 0, ahead_ = 0;
    std::thread::id run_ = std::this_thread::get_id();
};

class EngineCoreTest : public ::testing::Test {
protected:
    void entry(const std::string& source, const std::string& target, const std::string& subs) {
        mkdirs(data / source);
        mkdirs(data / target);
        write(prog / "BATCH.INI", "[batch]\r\nSource:" + (data / source) + "\r\nTarget:" +
                                      (data / target) + "\r\nSubs:" + subs + "\r\n");
    }
    void file(const std::string& rel, const std::string& content) {
        const std::string p = data / rel;
        mkdirs(p.substr(0, p.rfind(os::separator())));
        write(p, content);
    }
    std::vector<std::string> lastFilesAt(Side side, const std::string& rel) {
        const auto shown = host.shownAt(side, data / rel);
        return shown.empty() ? std::vector<std::string>{"(never shown)"} : shown.back().files;
    }

    TempDir prog, lists, data;
    CountingOs eos{lists.path()};
    os::ScopedOs use{eos};
    FakeHost host;
    batch::Store store{host, prog.path()};
    engine::Engine engine{host, store};
};

TEST_F(EngineCoreTest, ARunShowsEachPairAsItReadsItAndReplicatesIt) {
    entry("s", "t", "YES");
    file("s/top.txt", "top");
    file("s/a/x.txt", "x");
    file("s/a/inner/y.txt", "y");
    file("s/b/z.txt", "z");
    file("t/b/old.txt", "old");
    host.log = true;
    engine.RunBatch();

    EXPECT_EQ(read(data / "t/a/inner/y.txt"), "y");
    EXPECT_EQ(read(data / "t/b/z.txt"), "z");
    EXPECT_EQ(read(data / "t/top.txt"), "top");
    EXPECT_TRUE(host.told.empty()) << host.told.front();

    // Each pair's lists as read, before its files were copied.
    EXPECT_EQ(host.shownAt(Side::source, data / "s/a").size(), 2u) << "pointed at, then read";
    EXPECT_EQ(lastFilesAt(Side::source, "s/a"), std::vector<std::string>{"x.txt"});
    EXPECT_EQ(lastFilesAt(Side::source, "s/a/inner"), std::vector<std::string>{"y.txt"});
    EXPECT_EQ(lastFilesAt(Side::target, "t/b"), std::vector<std::string>{"old.txt"});
    EXPECT_EQ(lastFilesAt(Side::target, "t/a"), std::vector<std::string>{});
    // The trees of a pair of the walk, from the same read.
    bool treeOfA = false;
    for (const auto& t : host.trees)
        treeOfA |= t.side == Side::source && t.path == data / "s/a" &&
                   t.subdirectories == std::vector<std::string>{"inner"};
    EXPECT_TRUE(treeOfA);
    // The run ends showing its entry again, the bar hidden and the window
    // idle; the bar never left its range.
    ASSERT_FALSE(host.trees.empty());
    EXPECT_EQ(os::with_separator(host.trees.back().path), os::with_separator(data / "t"));
    ASSERT_FALSE(host.progress.empty());
    EXPECT_FALSE(host.progress.back().visible);
    EXPECT_FALSE(host.progressOutOfRange);
    EXPECT_EQ(host.busy,
              (std::vector<std::string>{"run on", "listing on", "listing off", "run off"}));
    EXPECT_NE(std::find(host.counts.begin(), host.counts.end(),
                        "1 File(s)\r\n" + os::with_separator(data / "s/a") + "|0 File(s)\r\n" +
                            os::with_separator(data / "t/a")),
              host.counts.end());
    // The batch's list, as the store made it.
    ASSERT_FALSE(host.list.empty());
    EXPECT_EQ(host.list.front(), " 1. Source:" + (data / "s"));
}

// The walk's pairs are read ahead on the reader's threads and each read is
// used: every directory is read once for its files.
TEST_F(EngineCoreTest, EachDirectoryIsReadOnceForItsFilesMostlyAhead) {
    entry("s", "t", "YES");
    for (int i = 0; i < 20; ++i) {
        const std::string d = "d" + std::to_string(i);
        file("s/" + d + "/f.txt", "same");
        file("t/" + d + "/f.txt", "same");
    }
    engine.RunBatch();
    for (int i = 0; i < 20; ++i) {
        const std::string d = "d" + std::to_string(i);
        EXPECT_EQ(eos.reads(data / ("s/" + d)), 1) << d;
        EXPECT_EQ(eos.reads(data / ("t/" + d)), 1) << d;
    }
    EXPECT_GT(eos.ahead(), 0) << "nothing was read ahead";
}

TEST_F(EngineCoreTest, NothingReadAheadOutlivesTheWalkOrTheEnd) {
    entry("s", "t", "YES");
    for (int i = 0; i < 40; ++i) file("s/d" + std::to_string(i) + "/f.txt", "x");
    engine.RunBatch();
    const int afterRun = eos.total();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(eos.total(), afterRun) << "a read went on after the run";

    // The program ends in the middle of the walk: the run stops there, and
    // so does every read.
    for (int i = 0; i < 40; ++i) file("s/d" + std::to_string(i) + "/g.txt", "y");
    int yields = 0;
    host.onYield = [&] {
        if (++yields == 30) host.ended = true;
    };
    engine.RunBatch();
    EXPECT_TRUE(host.ended);
    const int afterEnd = eos.total();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(eos.total(), afterEnd) << "a read went on after the end";
    int copied = 0;
    for (int i = 0; i < 40; ++i) copied += exists(data / ("t/d" + std::to_string(i) + "/g.txt"));
    EXPECT_LT(copied, 40) << "the end did not stop the run";
}

}  // namespace
}  // namespace qm::test

namespace qm::test {
namespace {

// A free thread takes a copy into a directory where nothing is going on
// before more copies into a directory that is busy: the system lets one
// create or rename at a time into a directory. Every job still runs.
TEST(CallPoolTest, AFreeThreadTakesAJobOfAnIdleGroupFirst) {
    struct Gate {
        std::promise<void> opened;
        std::shared_future<void> open = opened.get_future().share();
        std::promise<void> enteredOnce;
        std::future<void> entered = enteredOnce.get_future();
    };
    Gate busyGate, otherGate;
    std::atomic<int> busyDone{0};
    std::vector<std::future<int>> busy;
    std::future<int> idle;
    bool idleRanFirst = false;
    {
        engine::CallPool pool(2);
        // Both threads held, one in the busy group and one in a third,
        // before the queue is made: no thread picks while it is filled.
        busy.push_back(pool.submit(
            [&] {
                busyGate.enteredOnce.set_value();
                busyGate.open.wait();
                return ++busyDone;
            },
            1));
        auto third = pool.submit(
            [&] {
                otherGate.enteredOnce.set_value();
                otherGate.open.wait();
                return 0;
            },
            3);
        const bool held =
            busyGate.entered.wait_for(std::chrono::seconds(20)) == std::future_status::ready &&
            otherGate.entered.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
        for (int i = 0; i < 3; ++i)
            busy.push_back(pool.submit(
                [&] {
                    busyGate.open.wait();
                    return ++busyDone;
                },
                1));
        idle = pool.submit([&] { return busyDone.load(); }, 2);
        // The third group's thread comes free while the busy group still
        // runs: it takes the idle group's job, not the next busy one, which
        // would hold it until the gate opens.
        otherGate.opened.set_value();
        idleRanFirst = held && idle.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
        busyGate.opened.set_value();  // whatever was seen: nothing is left waiting
        EXPECT_TRUE(held) << "the two first jobs did not both begin";
        EXPECT_EQ(third.get(), 0);
    }
    EXPECT_TRUE(idleRanFirst) << "the idle group's job waited behind the busy group's";
    EXPECT_EQ(idle.get(), 0) << "it ran before any busy job ended";
    int sum = 0;
    for (auto& b : busy) sum += b.get();
    EXPECT_EQ(sum, 1 + 2 + 3 + 4) << "every job ran once";
}

}  // namespace
}  // namespace qm::test
