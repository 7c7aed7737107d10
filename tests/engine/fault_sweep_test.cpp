// A fault at each call of a whole small run in turn, once: whatever the
// failure leaves undone (a file not replicated, a source not moved, a
// leftover not removed, a copy not flushed) is named in the log with its
// path and its reason; a log that cannot be written is told in a box.
#include <iostream>
#include <mutex>

#include "fixture.h"

namespace qm::test {
namespace {

// Counts every call that can fail and fails the k-th one, once.
class SweepOs : public os::ForwardingOs {
public:
    explicit SweepOs(os::Os& inner, int k) : os::ForwardingOs(inner), k_(k) {}

    int calls() {
        std::lock_guard<std::mutex> lock(m_);
        return n_;
    }
    // The call that failed: "op path", empty when there were fewer than k.
    std::string hit() {
        std::lock_guard<std::mutex> lock(m_);
        return hit_;
    }
    std::string hitOp() {
        std::lock_guard<std::mutex> lock(m_);
        return hitOp_;
    }
    std::string hitPath() {
        std::lock_guard<std::mutex> lock(m_);
        return hitPath_;
    }
    std::string reason() const { return "injected fault " + std::to_string(k_); }

    os::Result<std::vector<os::DirEntry>> list_dir(const std::string& d) override {
        if (auto e = fault("read directory", d)) return std::unexpected(*e);
        return inner_.list_dir(d);
    }
    os::Result<std::vector<os::DirEntry>> list_dir_detailed(
        const std::string& d, const std::function<bool()>& b) override {
        if (auto e = fault("read directory", d)) return std::unexpected(*e);
        return inner_.list_dir_detailed(d, b);
    }
    os::Result<os::FileInfo> stat(const std::string& p) override {
        if (auto e = fault("stat", p)) return std::unexpected(*e);
        return inner_.stat(p);
    }
    os::Result<os::FileId> identity(const std::string& p) override {
        if (auto e = fault("stat", p)) return std::unexpected(*e);
        return inner_.identity(p);
    }
    os::Result<os::FileState> file_state(const std::string& p) override {
        if (auto e = fault("stat", p)) return std::unexpected(*e);
        return inner_.file_state(p);
    }
    os::Result<bool> probe(const std::string& p) override {
        if (auto e = fault("look up", p)) return std::unexpected(*e);
        return inner_.probe(p);
    }
    os::Status make_dir(const std::string& p) override {
        if (auto e = fault("create directory", p)) return std::unexpected(*e);
        return inner_.make_dir(p);
    }
    os::Status make_dir_like(const std::string& p, const std::string& m) override {
        if (auto e = fault("create directory", p)) return std::unexpected(*e);
        return inner_.make_dir_like(p, m);
    }
    os::Status make_private_dir(const std::string& p) override {
        if (auto e = fault("create directory", p)) return std::unexpected(*e);
        return inner_.make_private_dir(p);
    }
    os::Status create_private(const std::string& p) override {
        if (auto e = fault("create", p)) return std::unexpected(*e);
        return inner_.create_private(p);
    }
    os::Status copy_permissions(const std::string& f, const std::string& t) override {
        if (auto e = fault("set permissions", t)) return std::unexpected(*e);
        return inner_.copy_permissions(f, t);
    }
    os::Result<std::shared_ptr<void>> lock_file(const std::string& p, bool exclusive,
                                                bool wait) override {
        if (auto e = fault("lock", p)) return std::unexpected(*e);
        return inner_.lock_file(p, exclusive, wait);
    }
    os::Status remove_file(const std::string& p) override {
        if (auto e = fault("delete", p)) return std::unexpected(*e);
        return inner_.remove_file(p);
    }
    os::Result<std::string> read_file(const std::string& p) override {
        if (auto e = fault("open", p)) return std::unexpected(*e);
        return inner_.read_file(p);
    }
    os::Result<std::string> read_part(const std::string& p, std::uint64_t o,
                                      std::size_t m) override {
        if (auto e = fault("read", p)) return std::unexpected(*e);
        return inner_.read_part(p, o, m);
    }
    os::Status write_file(const std::string& p, std::string_view d, bool durable) override {
        if (auto e = fault("create", p)) return std::unexpected(*e);
        return inner_.write_file(p, d, durable);
    }
    os::Status append_file(const std::string& p, std::string_view d) override {
        if (auto e = fault("write", p)) return std::unexpected(*e);
        return inner_.append_file(p, d);
    }
    os::Result<os::FileState> copy_file(const std::string& f, const std::string& t,
                                        const os::CopyProgress& pr, bool durable) override {
        if (auto e = fault("copy", f)) return std::unexpected(*e);
        return inner_.copy_file(f, t, pr, durable);
    }
    os::Result<os::OpenDir> open_dir(const std::string& p) override {
        if (auto e = fault("open", p)) return std::unexpected(*e);
        return inner_.open_dir(p);
    }
    os::Result<os::OpenDir> open_dir_below(const os::OpenDir& r, const std::string& rel) override {
        if (auto e = fault("open", r.path + rel)) return std::unexpected(*e);
        return inner_.open_dir_below(r, rel);
    }
    os::Result<os::FileInfo> stat_in(const os::OpenDir& d, const std::string& n) override {
        if (auto e = fault("stat", d.path + n)) return std::unexpected(*e);
        return inner_.stat_in(d, n);
    }
    os::Result<os::FileState> file_state_in(const os::OpenDir& d, const std::string& n) override {
        if (auto e = fault("stat", d.path + n)) return std::unexpected(*e);
        return inner_.file_state_in(d, n);
    }
    os::Status make_dir_like_in(const os::OpenDir& d, const std::string& n,
                                const std::string& m) override {
        if (auto e = fault("create directory", d.path + n)) return std::unexpected(*e);
        return inner_.make_dir_like_in(d, n, m);
    }
    os::Result<os::FileState> copy_file_in(const os::OpenDir& f, const std::string& fn,
                                           const os::OpenDir& t, const std::string& tn,
                                           const os::CopyProgress& pr, bool durable,
                                           os::FileId* made) override {
        if (auto e = fault("copy", f.path + fn)) return std::unexpected(*e);
        return inner_.copy_file_in(f, fn, t, tn, pr, durable, made);
    }
    os::Status rename_in(const os::OpenDir& d, const std::string& f,
                         const std::string& t) override {
        if (auto e = fault("rename", d.path + f)) return std::unexpected(*e);
        return inner_.rename_in(d, f, t);
    }
    os::Status remove_in(const os::OpenDir& d, const std::string& n) override {
        if (auto e = fault("delete", d.path + n)) return std::unexpected(*e);
        return inner_.remove_in(d, n);
    }
    os::Status remove_unchanged(const os::OpenDir& d, const std::string& n,
                                const os::FileState& x) override {
        if (auto e = fault("delete", d.path + n)) return std::unexpected(*e);
        return inner_.remove_unchanged(d, n, x);
    }
    os::Status flush_files(const std::vector<std::string>& paths) override {
        if (auto e = fault("flush", paths.empty() ? std::string() : paths.front())) {
            // The others are still flushed, as a backend does.
            std::vector<std::string> rest(paths.begin() + 1, paths.end());
            (void)inner_.flush_files(rest);
            return std::unexpected(*e);
        }
        return inner_.flush_files(paths);
    }
    os::Status set_mtime(const std::string& p, os::FileTime t) override {
        if (auto e = fault("set time", p)) return std::unexpected(*e);
        return inner_.set_mtime(p, t);
    }
    os::Status flush_dir(const std::string& d) override {
        if (auto e = fault("flush", d)) return std::unexpected(*e);
        return inner_.flush_dir(d);
    }
    os::Status rename_replace(const std::string& f, const std::string& t) override {
        if (auto e = fault("rename", f)) return std::unexpected(*e);
        return inner_.rename_replace(f, t);
    }

private:
    std::optional<os::Error> fault(const char* op, const std::string& path) {
        std::lock_guard<std::mutex> lock(m_);
        if (++n_ != k_) return std::nullopt;
        hitOp_ = op;
        hitPath_ = path;
        hit_ = std::string(op) + " " + path;
        return os::make_error(os::Errc::io, op, path, reason());
    }

    std::mutex m_;
    int k_;
    int n_ = 0;
    std::string hit_, hitOp_, hitPath_;
};

class FaultSweepTest : public EngineTest, public ::testing::WithParamInterface<bool> {
protected:
    // Entry 1 with a tree, half of its target missing; entry 2 flat.
    void makeTrees() {
        for (auto d : {"s", "t", "s2", "t2"}) remove_tree(data / d);
        writeBatch({{"s", "t", "YES"}, {"s2", "t2", "NO"}});
        file("s/a.txt", "a");
        file("s/kept.txt", "same");
        file("t/kept.txt", "same");
        file("s/old.txt", "newer");
        file("t/old.txt", "old", kTime - 60);
        file("s/sub/b.txt", "bb");
        file("s/sub/deep/c.txt", "ccc");
        file("s/made/here/d.txt", "dddd");
        file("t/.qm-0123abcd.part", "a leftover");
        file("s2/e.txt", "eeeee");
        if (exists(prog / "syncfile.log")) remove_tree(prog / "syncfile.log");
        // Those a failed removal left behind, which that run logged.
        for (const auto& n : names(lists.path())) remove_tree(lists / n);
    }
    // What the run should have done; an empty text when it did.
    std::string undone() {
        const bool move = GetParam();
        std::string why;
        const std::vector<std::pair<std::string, std::string>> expected = {
            {"a.txt", "a"},
            {"old.txt", "newer"},
            {"sub/b.txt", "bb"},
            {"sub/deep/c.txt", "ccc"},
            {"made/here/d.txt", "dddd"}};
        for (const auto& [rel, content] : expected) {
            if (!has("t/" + rel) || at("t/" + rel) != content) why += " t/" + rel + " not copied;";
            if (move && has("s/" + rel)) why += " s/" + rel + " not moved;";
            if (!move && !has("s/" + rel)) why += " s/" + rel + " lost;";
        }
        if (!has("t2/e.txt")) why += " t2/e.txt not copied;";
        if (move && has("s2/e.txt")) why += " s2/e.txt not moved;";
        if (!has("s/kept.txt")) why += " s/kept.txt lost;";
        for (auto d : {"t", "t/sub", "t/sub/deep", "t/made", "t/made/here", "t2"})
            if (has(d) && !temporaries(d).empty())
                why += std::string(" temporary left in ") + d + ";";
        if (!names(lists.path()).empty()) why += " list files left;";
        return why;
    }
};

TEST_P(FaultSweepTest, EveryFailureThatLeavesSomethingUndoneIsNamedWithPathAndReason) {
    const bool move = GetParam();
    load({{"s", "t", "YES"}, {"s2", "t2", "NO"}});
    if (move) form->Movefiles_Click();

    // A clean run: nothing undone, and how many calls it makes.
    makeTrees();
    int total = 0;
    {
        SweepOs counting(eos, -1);
        os::ScopedOs use(counting);
        run();
        total = counting.calls();
    }
    ASSERT_EQ(undone(), "");
    ASSERT_GT(total, 40);

    int failedAndSaid = 0, harmless = 0;
    for (int k = 1; k <= total; ++k) {
        makeTrees();
        dialogs.boxes.clear();
        SweepOs sweep(eos, k);
        {
            os::ScopedOs use(sweep);
            run();
        }
        const std::string hit = sweep.hit();
        if (hit.empty()) continue;  // this run made fewer calls
        SCOPED_TRACE("fault at call " + std::to_string(k) + ": " + hit);
        const auto said = logWith(sweep.reason());
        for (const auto& line : said)
            EXPECT_NE(line.find(sweep.hitPath()), std::string::npos)
                << "without its path: " << line;
        // A log that cannot be written is told in a box.
        if (sweep.hitPath() == prog / "syncfile.log" && sweep.hitOp() == "write") {
            bool told = false;
            for (const auto& b : dialogs.boxes)
                told |=
                    b.title == "Information" && b.text.find(sweep.reason()) != std::string::npos;
            EXPECT_TRUE(told) << "the dead log was not told";
            ++failedAndSaid;
            continue;
        }
        if (!said.empty()) {
            ++failedAndSaid;
            continue;
        }
        // Not said: then nothing may be undone, and nothing left unflushed.
        EXPECT_EQ(undone(), "") << "undone and not said";
        if (undone() != "") {
            for (const auto& l : log()) std::cerr << "  log: " << l << "\n";
            for (const auto& l : names(lists.path())) std::cerr << "  list: " << l << "\n";
        }
        // The batch file keeps its own flushes.
        if (sweep.hitPath().rfind(data.path(), 0) == 0) {
            EXPECT_NE(sweep.hitOp(), "flush") << "a failed flush of a copy not said";
        }
        ++harmless;
    }
    std::cout << (move ? "move" : "copy") << ": " << total << " calls, " << failedAndSaid
              << " failures named, " << harmless << " left nothing undone\n";
    EXPECT_GT(failedAndSaid, 10);
    // The sweep itself is sound: faults were spread over the run.
    EXPECT_GT(failedAndSaid + harmless, total / 2);
}

INSTANTIATE_TEST_SUITE_P(Modes, FaultSweepTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Move" : "Copy"; });

}  // namespace
}  // namespace qm::test
