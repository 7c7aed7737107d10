// The engine's reader: reads ahead along its lanes in the order the walk
// comes to them, hands over only the read of the path asked for, never
// reads ahead through a link, keeps what it holds small, and stops and
// forgets as it is told.
#include "engine/reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <future>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/forwarding_os.h"
#include "support/tempdir.h"

namespace qm::test {
namespace {

using namespace std::chrono_literals;
using Lane = engine::Reader::Lane;

// Notes each directory read, and on which thread; a read of the gated
// directory (files or names) waits until the gate opens, asking whether
// to go on while it is a read of files. A test that fails before it opens
// the gate must still end: the gate gives way after a while.
class ReadsOs : public os::ForwardingOs {
public:
    ReadsOs() : os::ForwardingOs(os::native()) {}
    os::Result<std::vector<os::DirEntry>> list_dir_detailed(
        const std::string& d, const std::function<bool()>& between) override {
        {
            std::unique_lock<std::mutex> lock(m);
            entered(d);
            const auto giveUp = std::chrono::steady_clock::now() + kGateHolds;
            while (d == gated && !open && std::chrono::steady_clock::now() < giveUp) {
                if (between && !between()) {
                    read.push_back(d + " cancelled");
                    cv.notify_all();
                    return std::unexpected(os::cancelled("read directory", d));
                }
                cv.wait_for(lock, 1ms);
            }
        }
        auto r = os::ForwardingOs::list_dir_detailed(d, between);
        note(d);
        return r;
    }
    os::Result<std::vector<os::DirEntry>> list_dir(const std::string& d) override {
        {
            std::unique_lock<std::mutex> lock(m);
            entered(d);
            cv.wait_for(lock, kGateHolds, [&] { return d != gated || open; });
        }
        auto r = os::ForwardingOs::list_dir(d);
        note(d);
        return r;
    }
    std::size_t waitForReads(std::size_t n) {
        std::unique_lock<std::mutex> lock(m);
        cv.wait_for(lock, 10s, [&] { return read.size() >= n; });
        return read.size();
    }
    void waitUntilInGate() {
        std::unique_lock<std::mutex> lock(m);
        cv.wait_for(lock, 10s, [&] { return inGate; });
    }
    std::vector<std::string> reads() {
        std::lock_guard<std::mutex> lock(m);
        return read;
    }
    int times(const std::string& d) {
        std::lock_guard<std::mutex> lock(m);
        return static_cast<int>(std::count(read.begin(), read.end(), d));
    }
    // Reads made on a thread other than the test's.
    int onOtherThreads(const std::string& d) {
        std::lock_guard<std::mutex> lock(m);
        return away[d];
    }
    void openGate() {
        std::lock_guard<std::mutex> lock(m);
        open = true;
        cv.notify_all();
    }

    std::string gated;
    static constexpr auto kGateHolds = 60s;

private:
    void entered(const std::string& d) {
        if (d != gated) return;
        inGate = true;
        cv.notify_all();
    }
    void note(const std::string& d) {
        std::lock_guard<std::mutex> lock(m);
        read.push_back(d);
        if (std::this_thread::get_id() != test) ++away[d];
        cv.notify_all();
    }
    std::mutex m;
    std::condition_variable cv;
    std::vector<std::string> read;
    std::map<std::string, int> away;
    bool open = false;
    bool inGate = false;
    std::thread::id test = std::this_thread::get_id();
};

std::vector<std::string> namesOf(const engine::Reader::Entries& r) {
    std::vector<std::string> out;
    if (r)
        for (const auto& e : *r) out.push_back(e.name);
    std::sort(out.begin(), out.end());
    return out;
}

class ReaderTest : public ::testing::Test {
protected:
    // d0 … d4, directory i holding files f0 … f(10i+9) and a directory sub.
    ReaderTest() {
        for (int i = 0; i < 5; ++i) {
            dirs.push_back(tmp / ("d" + std::to_string(i)));
            mkdirs(tmp / ("d" + std::to_string(i) + "/sub"));
            for (int f = 0; f < 10 * i + 10; ++f)
                write(dirs.back() + "/f" + std::to_string(f), "x");
        }
    }
    TempDir tmp;
    std::vector<std::string> dirs;
    ReadsOs eos;
    os::ScopedOs installed{eos};
};

TEST_F(ReaderTest, ReadsComeInTheOrderQueuedAndThosePassedOverAreForgotten) {
    engine::Reader r;
    r.want(Lane::source, {dirs[0], dirs[1], dirs[2]});
    ASSERT_EQ(eos.waitForReads(3), 3u);
    EXPECT_FALSE(r.queued(Lane::source, tmp / "elsewhere"));
    EXPECT_FALSE(r.queued(Lane::target, dirs[1])) << "each lane its own";
    // Also spelt with a final separator; the files and the subdirectory.
    EXPECT_EQ(namesOf(r.take(Lane::source, dirs[1] + os::separator())).size(), 21u);
    EXPECT_FALSE(r.queued(Lane::source, dirs[0])) << "passed over, and forgotten";
    EXPECT_EQ(namesOf(r.take(Lane::source, dirs[2])).size(), 31u);
    auto reads = eos.reads();
    std::sort(reads.begin(), reads.end());
    EXPECT_EQ(reads, (std::vector<std::string>{dirs[0], dirs[1], dirs[2]})) << "each once";
    EXPECT_EQ(eos.onOtherThreads(dirs[1]), 1);

    // A path not queued is read here and now, as it is then; so is one
    // passed over.
    write(dirs[0] + "/late", "x");
    EXPECT_EQ(namesOf(r.take(Lane::source, dirs[0])).size(), 12u);
    EXPECT_EQ(eos.onOtherThreads(dirs[0]), 1);
    EXPECT_EQ(eos.times(dirs[0]), 2);

    // A read started comes before those queued.
    eos.gated = dirs[3];
    r.want(Lane::target, {dirs[3]});
    eos.waitUntilInGate();
    r.start(Lane::target, dirs[4]);
    ASSERT_EQ(eos.waitForReads(5), 5u);
    EXPECT_EQ(eos.reads().back(), dirs[4]);
    eos.openGate();
    EXPECT_EQ(namesOf(r.take(Lane::target, dirs[4])).size(), 51u);
    EXPECT_EQ(namesOf(r.take(Lane::target, dirs[3])).size(), 41u);
    EXPECT_EQ(eos.times(dirs[4]), 1);

    const auto failed = r.take(Lane::target, tmp / "missing");
    ASSERT_FALSE(failed);
    EXPECT_EQ(failed.error().code, os::Errc::not_found);
}

// A pair named ahead has not been looked at: a link there is never read
// through ahead, nor a file read as a directory. The walk reads it itself
// when it comes to it, as it then finds it.
TEST_F(ReaderTest, AReadAheadOfALinkOrAFileFailsUnreadAndIsMadeHereInstead) {
    write(tmp / "file", "x");
    std::vector<std::string> queued{tmp / "file"};
#ifndef _WIN32
    std::filesystem::create_directory_symlink(dirs[1], tmp / "link");
    queued.push_back(tmp / "link");
#endif
    engine::Reader r;
    r.want(Lane::source, queued);
    // A read ahead after them: once it is done, they have been tried.
    r.want(Lane::source, {dirs[0]});
    ASSERT_EQ(eos.waitForReads(1), 1u);
    EXPECT_EQ(eos.reads(), std::vector<std::string>{dirs[0]});
    const auto file = r.take(Lane::source, tmp / "file");
    ASSERT_FALSE(file);
    EXPECT_EQ(eos.onOtherThreads(tmp / "file"), 0) << "a file read ahead as a directory";
#ifndef _WIN32
    EXPECT_EQ(namesOf(r.take(Lane::source, tmp / "link")).size(), 21u);
    EXPECT_EQ(eos.onOtherThreads(tmp / "link"), 0) << "read ahead through a link";
    EXPECT_EQ(eos.times(tmp / "link"), 1);
#endif
}

TEST_F(ReaderTest, ReadsAheadOnlyWhileTheResultsWaitingHoldLittle) {
    // Room for one entry: the first of the lane is read whatever is held,
    // and at most one more that began while nothing was held yet.
    engine::Reader r(1);
    r.want(Lane::source, dirs);
    eos.waitForReads(1);
    std::this_thread::sleep_for(100ms);
    EXPECT_LE(eos.reads().size(), 2u) << "read on past the bound";
    EXPECT_EQ(eos.times(dirs[4]), 0);

    // Each one taken makes room for the next.
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(namesOf(r.take(Lane::source, dirs[static_cast<std::size_t>(i)])).size(),
                  static_cast<std::size_t>(10 * i + 11));
    for (const auto& d : dirs) EXPECT_EQ(eos.times(d), 1) << d;
}

TEST_F(ReaderTest, AStoppedReadServesNothingAndForgottenOnesTouchNothingAfter) {
    eos.gated = dirs[0];
    {
        engine::Reader r;
        r.want(Lane::source, {dirs[0], dirs[1]});
        eos.waitUntilInGate();
        // The walk stops while it waits for the read: so does the read.
        const auto stopped = r.take(Lane::source, dirs[0], [] { return false; });
        ASSERT_FALSE(stopped);
        EXPECT_EQ(stopped.error().code, os::Errc::cancelled);
        EXPECT_EQ(eos.times(dirs[0] + " cancelled"), 1);
        EXPECT_EQ(namesOf(r.take(Lane::source, dirs[1])).size(), 21u);
    }
    {
        engine::Reader r;
        r.want(Lane::source, {dirs[0], dirs[1], dirs[2]});
        r.want(Lane::listing, {dirs[3]});
        r.forget();
        const auto after = eos.reads();
        eos.openGate();
        std::this_thread::sleep_for(50ms);
        EXPECT_EQ(eos.reads(), after) << "a forgotten read went on";
        EXPECT_FALSE(r.queued(Lane::source, dirs[1]));
        EXPECT_FALSE(r.queued(Lane::listing, dirs[3]));
        r.want(Lane::source, {dirs[3]});
        EXPECT_EQ(namesOf(r.take(Lane::source, dirs[3])).size(), 41u);
    }
}

// The listing's lane: only subdirectories are kept, the threads take the
// one needed last, and the walk lists itself what they have not started.
TEST_F(ReaderTest, AListingBeingReadIsWaitedForAndKeepsOnlyDirectories) {
    eos.gated = dirs[0];
    {
        engine::Reader r;
        r.want(Lane::listing, {dirs[0]});
        eos.waitUntilInGate();
        std::thread later([&] {
            std::this_thread::sleep_for(30ms);
            eos.openGate();
        });
        const auto listing = r.take(Lane::listing, dirs[0]);
        later.join();
        ASSERT_TRUE(listing.has_value());
        ASSERT_EQ(listing->size(), 1u);
        EXPECT_EQ(listing->front().name, "sub");
        EXPECT_EQ(listing->front().kind, os::Kind::dir);
    }
    EXPECT_EQ(eos.times(dirs[0]), 1) << "not listed a second time by the walk";
}

TEST_F(ReaderTest, WhatTheListingsThreadsHaveNotStartedIsListedByTheWalk) {
    // The threads take the last wanted first, and one is held there.
    eos.gated = dirs.back();
    {
        engine::Reader r;
        const std::string gone = tmp / "gone";
        auto wanted = dirs;
        wanted.insert(wanted.begin() + 2, gone);
        r.want(Lane::listing, wanted);
        eos.waitUntilInGate();
        for (std::size_t i = 0; i < 2; ++i) {
            const auto listing = r.take(Lane::listing, dirs[i]);
            ASSERT_TRUE(listing.has_value());
            ASSERT_EQ(listing->size(), 1u);
            EXPECT_EQ(listing->front().name, "sub");
        }
        const auto missing = r.take(Lane::listing, tmp / "missing");
        ASSERT_FALSE(missing.has_value());
        EXPECT_EQ(missing.error().code, os::Errc::not_found);
        // A failed listing is handed over as the walk would have met it,
        // not made again.
        const auto failed = r.take(Lane::listing, gone);
        ASSERT_FALSE(failed.has_value());
        EXPECT_EQ(failed.error().code, os::Errc::not_found);
        EXPECT_EQ(eos.times(gone), 1);
        eos.openGate();  // the end waits for the listing in progress
    }
    for (const auto& d : dirs) EXPECT_LE(eos.times(d), 1) << d;
    EXPECT_EQ(eos.times(dirs[0]), 1);
    EXPECT_EQ(eos.times(dirs[1]), 1);
    EXPECT_EQ(eos.times(dirs.back()), 1);
}

// A listing comes in list order, each entry whole, and a file list's view
// of it is the one a read here gives.
TEST_F(ReaderTest, AListingComesInListOrderAndReadsAsAReadHereWould) {
    const std::string dir = tmp / "mixed";
    mkdirs(dir);
    std::vector<std::string> names;
    for (int i = 0; i < 700; ++i) {
        // Shared beginnings longer than eight letters, case apart, and
        // names shorter than eight.
        std::string n = i % 4 == 0   ? "Report 2024-" + std::to_string(i)
                        : i % 4 == 1 ? "report 2024-" + std::to_string(i) + ".TXT"
                        : i % 4 == 2 ? "r" + std::to_string(i % 50)
                                     : "R" + std::to_string(i) + "_x";
        if (std::find(names.begin(), names.end(), n) != names.end()) continue;
        names.push_back(n);
        write(dir + "/" + n, std::string(n.size() % 13, 'z'));
    }
    mkdirs(tmp / "mixed/Report sub");
    engine::Reader r;
    r.start(Lane::source, dir);
    auto listing = r.take(Lane::source, dir);
    ASSERT_TRUE(listing) << listing.error().message();
    ASSERT_EQ(listing->size(), names.size() + 1);
    for (std::size_t i = 1; i < listing->size(); ++i)
        ASSERT_TRUE(engine::listed_before((*listing)[i - 1].name, (*listing)[i].name))
            << (*listing)[i - 1].name << " | " << (*listing)[i].name;
    for (const auto& e : *listing) {
        if (e.name == "Report sub") {
            EXPECT_EQ(e.kind, os::Kind::dir);
            continue;
        }
        EXPECT_EQ(e.kind, os::Kind::file) << e.name;
        EXPECT_EQ(e.size, e.name.size() % 13) << e.name;
    }

    const auto there = engine::make_dir_read(dir, std::move(listing));
    const auto here = engine::make_dir_read(dir, os::current().list_dir_detailed(dir, {}));
    std::sort(names.begin(), names.end(), engine::listed_before);
    EXPECT_EQ(there.files->names(), names);
    EXPECT_EQ(here.files->names(), names);
    EXPECT_EQ(there.subdirectories, std::vector<std::string>{"Report sub"});
    for (std::size_t i = 0; i < there.files->size(); ++i)
        EXPECT_EQ(there.files->stamp(i).size, here.files->stamp(i).size);
}

// Any entries, put in list order where they lie: each keeps its own length
// and time, and the order is the one listed_before gives.
TEST(ListedOrder, EntriesAreMovedIntoOrderWhole) {
    std::vector<os::DirEntry> entries;
    std::uint32_t seed = 12345;
    auto next = [&] { return seed = seed * 1103515245u + 12345u, seed >> 16; };
    const std::string letters = "aAbB_[z~.0\xc3\xa9 ";
    for (int i = 0; i < 5000; ++i) {
        os::DirEntry e;
        e.name = i % 3 ? "common-prefix-" : "";
        const auto len = 1 + next() % 9;
        for (std::uint32_t k = 0; k < len; ++k) e.name += letters[next() % letters.size()];
        e.name += std::to_string(i);  // unique
        e.size = std::hash<std::string>{}(e.name);
        e.mtime = {static_cast<std::int64_t>(e.name.size()), static_cast<std::int32_t>(i)};
        entries.push_back(e);
    }
    auto expected = entries;
    std::sort(expected.begin(), expected.end(),
              [](const auto& a, const auto& b) { return engine::listed_before(a.name, b.name); });
    int paced = 0;
    engine::put_in_listed_order(entries, [&] { ++paced; });
    EXPECT_GE(paced, 2) << "called while sorting";
    ASSERT_EQ(entries.size(), expected.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        ASSERT_EQ(entries[i].name, expected[i].name) << i;
        EXPECT_EQ(entries[i].size, std::hash<std::string>{}(entries[i].name));
        EXPECT_EQ(entries[i].mtime, expected[i].mtime);
    }
    // Already in order: left as it is.
    engine::put_in_listed_order(entries, [&] { ++paced; });
    for (std::size_t i = 0; i < entries.size(); ++i) ASSERT_EQ(entries[i].name, expected[i].name);
}

}  // namespace
}  // namespace qm::test
