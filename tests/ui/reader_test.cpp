// Directories read on a thread of their own, in the order asked for, with
// the results waiting to be taken kept small, and nothing read once the
// reads are cancelled or dropped.
#include "ui/reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/host.h"
#include "support/forwarding_os.h"
#include "support/tempdir.h"
#include "ui/controls.h"

namespace qm::ui {
namespace {

using namespace std::chrono_literals;

// Notes each directory read; a read of the gated directory waits, asking
// whether to go on, until the gate opens.
class ReadsOs : public os::ForwardingOs {
public:
    ReadsOs() : os::ForwardingOs(os::native()) {}
    os::Result<std::vector<os::DirEntry>> list_dir_detailed(
        const std::string& d, const std::function<bool()>& between) override {
        {
            std::unique_lock<std::mutex> lock(m);
            while (d == gated && !open) {
                if (!between()) return std::unexpected(os::cancelled("read directory", d));
                cv.wait_for(lock, 1ms);
            }
        }
        auto r = os::ForwardingOs::list_dir_detailed(d, between);
        std::lock_guard<std::mutex> lock(m);
        read.push_back(d);
        cv.notify_all();
        return r;
    }
    std::size_t waitForReads(std::size_t n) {
        std::unique_lock<std::mutex> lock(m);
        cv.wait_for(lock, 10s, [&] { return read.size() >= n; });
        return read.size();
    }
    std::vector<std::string> reads() {
        std::lock_guard<std::mutex> lock(m);
        return read;
    }
    void openGate() {
        std::lock_guard<std::mutex> lock(m);
        open = true;
        cv.notify_all();
    }

    std::mutex m;
    std::condition_variable cv;
    std::vector<std::string> read;
    std::string gated;
    bool open = false;
};

std::vector<std::string> namesOf(const os::Result<std::vector<os::DirEntry>>& r) {
    std::vector<std::string> out;
    if (r)
        for (const auto& e : *r) out.push_back(e.name);
    std::sort(out.begin(), out.end());
    return out;
}

class ReaderTest : public ::testing::Test {
protected:
    // d0 … d4, directory i holding files f0 … f(10i+9).
    ReaderTest() {
        for (int i = 0; i < 5; ++i) {
            dirs.push_back(tmp / ("d" + std::to_string(i)));
            test::mkdirs(dirs.back());
            for (int f = 0; f < 10 * i + 10; ++f)
                test::write(dirs.back() + "/f" + std::to_string(f), "x");
        }
    }
    test::TempDir tmp;
    std::vector<std::string> dirs;
    ReadsOs eos;
    os::ScopedOs installed{eos};
};

TEST_F(ReaderTest, ReadsComeInTheOrderQueuedAndThosePassedOverAreForgotten) {
    BackgroundReader r;
    r.queue(dirs[0]);
    r.queue(dirs[1]);
    r.queue(dirs[2]);
    EXPECT_FALSE(r.serves(tmp / "elsewhere"));
    // Also spelt with a final separator.
    ASSERT_TRUE(r.serves(dirs[1] + os::separator()));
    EXPECT_EQ(namesOf(r.take()).size(), 20u);
    EXPECT_FALSE(r.serves(dirs[0])) << "passed over, and forgotten";
    ASSERT_TRUE(r.serves(dirs[2]));
    EXPECT_EQ(namesOf(r.take()).size(), 30u);
    // d0 was read only if the thread came to it before it was forgotten.
    const auto reads = eos.reads();
    ASSERT_GE(reads.size(), 2u);
    EXPECT_EQ(std::vector<std::string>(reads.end() - 2, reads.end()),
              (std::vector<std::string>{dirs[1], dirs[2]}));
    EXPECT_LE(reads.size(), 3u);

    // A read started comes before those queued, and sees the directory as
    // it is when it is read.
    r.queue(dirs[3]);
    test::write(dirs[4] + "/late", "x");
    r.start(dirs[4]);
    EXPECT_EQ(namesOf(r.take()).size(), 51u);
    ASSERT_TRUE(r.serves(dirs[3]));
    EXPECT_EQ(namesOf(r.take()).size(), 40u);

    const auto failed = [&] {
        r.start(tmp / "missing");
        return r.take();
    }();
    ASSERT_FALSE(failed);
    EXPECT_EQ(failed.error().code, os::Errc::not_found);
}

// A pair named ahead has not been looked at: a link there is never read
// through, nor a file read as a directory. A read started is of a pair
// looked at, whose root may be a link.
TEST_F(ReaderTest, AReadQueuedOfALinkOrAFileFailsUnread) {
    test::write(tmp / "file", "x");
    std::vector<std::string> queued{tmp / "file"};
#ifndef _WIN32
    std::filesystem::create_directory_symlink(dirs[1], tmp / "link");
    queued.push_back(tmp / "link");
#endif
    BackgroundReader r;
    for (const auto& q : queued) {
        r.queue(q);
        ASSERT_TRUE(r.serves(q));
        const auto read = r.take();
        ASSERT_FALSE(read) << q;
        EXPECT_EQ(read.error().code, os::Errc::not_dir) << q;
    }
    EXPECT_EQ(eos.reads(), std::vector<std::string>{});
#ifndef _WIN32
    r.start(tmp / "link");
    EXPECT_EQ(namesOf(r.take()).size(), 20u);
#endif
}

TEST_F(ReaderTest, ReadsAheadOnlyWhileTheResultsWaitingHoldLittle) {
    // Room for 25 entries: d0 (10) and d1 (20) are read, d2 waits.
    BackgroundReader r(25);
    for (int i = 0; i < 3; ++i) r.queue(dirs[i]);
    ASSERT_EQ(eos.waitForReads(2), 2u);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(eos.reads().size(), 2u) << "read on past the bound";

    // The first asked for is read whatever the others hold.
    r.start(dirs[4]);
    EXPECT_EQ(namesOf(r.take()).size(), 50u);
    EXPECT_EQ(eos.reads().size(), 3u);

    // Taking d0 leaves 20 held: d2 is read.
    ASSERT_TRUE(r.serves(dirs[0]));
    EXPECT_EQ(namesOf(r.take()).size(), 10u);
    ASSERT_EQ(eos.waitForReads(4), 4u);
    EXPECT_EQ(eos.reads().back(), dirs[2]);
    ASSERT_TRUE(r.serves(dirs[2]));
    EXPECT_EQ(namesOf(r.take()).size(), 30u);
}

TEST_F(ReaderTest, CancelledReadsServeNothingAndDroppedOnesTouchNothingAfter) {
    eos.gated = dirs[0];
    {
        BackgroundReader r;
        r.queue(dirs[0]);
        r.queue(dirs[1]);
        r.cancel();
        EXPECT_FALSE(r.serves(dirs[0]));
        EXPECT_FALSE(r.serves(dirs[1]));
        // A read asked for after a cancel starts afresh.
        r.start(dirs[2]);
        EXPECT_EQ(namesOf(r.take()).size(), 30u);
        EXPECT_EQ(eos.reads(), std::vector<std::string>{dirs[2]});
    }
    {
        BackgroundReader r;
        r.queue(dirs[0]);
        r.queue(dirs[1]);
        r.drop();
        const auto after = eos.reads().size();
        eos.openGate();
        std::this_thread::sleep_for(50ms);
        EXPECT_EQ(eos.reads().size(), after) << "a dropped read went on";
        EXPECT_FALSE(r.serves(dirs[1]));
        r.queue(dirs[3]);
        ASSERT_TRUE(r.serves(dirs[3]));
        EXPECT_EQ(namesOf(r.take()).size(), 40u);
    }
}

// The thread hands its listing over in list order, each entry whole, and a
// list shown from it holds what a read on the window's thread holds.
TEST_F(ReaderTest, AListingComesInListOrderAndShowsAsAReadHereWould) {
    const std::string dir = tmp / "mixed";
    test::mkdirs(dir);
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
        test::write(dir + "/" + n, std::string(n.size() % 13, 'z'));
    }
    test::mkdirs(dir + "/Report sub");
    BackgroundReader r;
    r.start(dir);
    auto listing = r.take();
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

    FileList there("there", "Form1", {}, -1), here("here", "Form1", {}, -1);
    there.setPath(dir, false);
    there.show(std::move(listing));
    here.setPath(dir);
    std::sort(names.begin(), names.end(), engine::listed_before);
    EXPECT_EQ(there.files(), names);
    EXPECT_EQ(here.files(), names);
    EXPECT_EQ(there.subdirectories(), std::vector<std::string>{"Report sub"});
    for (int i = 0; i < there.listCount(); ++i)
        EXPECT_EQ(there.listing()->stamp(static_cast<std::size_t>(i)).size,
                  here.listing()->stamp(static_cast<std::size_t>(i)).size);
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
    put_in_listed_order(entries, [&] { ++paced; });
    EXPECT_GE(paced, 2) << "called while sorting";
    ASSERT_EQ(entries.size(), expected.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        ASSERT_EQ(entries[i].name, expected[i].name) << i;
        EXPECT_EQ(entries[i].size, std::hash<std::string>{}(entries[i].name));
        EXPECT_EQ(entries[i].mtime, expected[i].mtime);
    }
    // Already in order: left as it is.
    put_in_listed_order(entries, [&] { ++paced; });
    for (std::size_t i = 0; i < entries.size(); ++i) ASSERT_EQ(entries[i].name, expected[i].name);
}

}  // namespace
}  // namespace qm::ui
