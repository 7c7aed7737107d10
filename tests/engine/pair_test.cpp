// A run reads from and writes into exactly the directories an entry names.
// A pair that cannot be opened (a plain file in the place of a directory,
// an unreadable directory, one gone since the repair, a drive that is not
// ready) is skipped with a log line, whatever the pickers show meanwhile.
#include <map>
#include <set>

#include "fixture.h"

namespace qm::test {
namespace {

// Three drives, each a directory below the test's data directory, so that
// a run that fell back to a drive's root would stay inside the test.
class DrivesOs : public EngineOs {
public:
    using EngineOs::EngineOs;
    std::string a, b, c;   // any other path is on c
    std::string notReady;  // a drive that is not ready: nothing on it can be read
    std::string vanish;    // removed as soon as the repair has replaced the batch file
    std::optional<Fault> probeFault;

    os::Result<bool> probe(const std::string& p) override {
        if (probeFault && probeFault->hits(p))
            return std::unexpected(
                os::make_error(probeFault->code, "look up", p, probeFault->reason));
        return EngineOs::probe(p);
    }
    // As a system says it: a name it cannot look up does not exist.
    bool exists(const std::string& p) override {
        if (probeFault && probeFault->match.size() &&
            p.find(probeFault->match) != std::string::npos)
            return false;
        return EngineOs::exists(p);
    }

    std::vector<std::string> volumes() override { return {a, b, c}; }
    std::string volume_of(const std::string& p) override {
        for (const auto* v : {&a, &b})
            if (on(p, *v)) return *v;
        return c;
    }
    std::string volume_root(const std::string& v) override { return os::with_separator(v); }
    bool volume_ready(const std::string& v) override { return v != notReady; }
    os::Result<std::vector<os::DirEntry>> list_dir(const std::string& d) override {
        if (!notReady.empty() && on(d, notReady)) return std::unexpected(notReadyError(d));
        return EngineOs::list_dir(d);
    }
    os::Result<std::vector<os::DirEntry>> list_dir_detailed(
        const std::string& d, const std::function<bool()>& b) override {
        if (!notReady.empty() && on(d, notReady)) return std::unexpected(notReadyError(d));
        return EngineOs::list_dir_detailed(d, b);
    }
    // Gone just after the run's repair of the batch has found it there.
    os::Status write_file(const std::string& p, std::string_view d, bool durable) override {
        auto r = EngineOs::write_file(p, d, durable);
        if (r && !vanish.empty() && p.ends_with("batch.new")) {
            remove_tree(vanish);
            vanish.clear();
        }
        return r;
    }

private:
    static bool on(const std::string& p, const std::string& v) {
        return p.rfind(v, 0) == 0 && (p.size() == v.size() || p[v.size()] == os::separator());
    }
    static os::Error notReadyError(const std::string& d) {
        return os::make_error(os::Errc::io, "read directory", d, "the device is not ready");
    }
};

enum class Way { file, unreadable, vanished, not_ready };
enum class Broken { source, target };

struct PairCase {
    Way way;
    Broken side;
    bool move;
    bool second;  // the entry is the second of the batch, after a good one
};

std::string describe(const PairCase& c) {
    const char* ways[] = {"File", "Unreadable", "Vanished", "NotReady"};
    return std::string(ways[static_cast<int>(c.way)]) +
           (c.side == Broken::source ? "Source" : "Target") + (c.move ? "Move" : "Copy") +
           (c.second ? "Second" : "First");
}
std::string name(const ::testing::TestParamInfo<PairCase>& i) {
    return describe(i.param);
}
void PrintTo(const PairCase& c, std::ostream* os) {
    *os << describe(c);
}

class PairTest : public EngineTest, public ::testing::WithParamInterface<PairCase> {
protected:
    PairTest() : drives(prog.path(), lists.path()), useDrives(drives) {
        drives.a = data / "A";
        drives.b = data / "B";
        drives.c = data / "C";
    }

    // Every file below the data directory with its content.
    std::map<std::string, std::string> everything() {
        std::map<std::string, std::string> out;
        collect(data.path(), out);
        return out;
    }
    void collect(const std::string& dir, std::map<std::string, std::string>& out) {
        auto l = os::native().list_dir(dir);
        if (!l) return;
        for (const auto& e : *l) {
            const std::string p = os::join(dir, e.name);
            if (e.kind == os::Kind::dir)
                collect(p, out);
            else
                out[p] = read(p);
        }
    }

    void loadBatch(const std::vector<std::array<std::string, 3>>& entries) {
        std::vector<std::string> lines{"[batch]"};
        for (const auto& e : entries) {
            lines.push_back("Source:" + e[0]);
            lines.push_back("Target:" + e[1]);
            lines.push_back("Subs:" + e[2]);
        }
        write(prog / "BATCH.INI", batch::join_lines(lines));
        form = loadForm();
        form->Check2.setValue(1);
        form->Slider1.setValue(1);
    }

    // The entries' own directories hold files; so do their neighbours and
    // the drives' roots, which no entry names.
    void sentinels() {
        file("A/top.txt", "a top");
        file("A/other/deep/x.txt", "a deep");
        file("A/s/in.txt", "in");
        file("A/s/sub/in2.txt", "in2");
        file("B/btop.txt", "b top");
        file("B/bother/y.txt", "b deep");
        mkdirs(data / "B/t");
        file("C/ctop.txt", "c top");
        file("C/good/g.txt", "good");
        mkdirs(data / "C/goodt");
    }

    DrivesOs drives;
    os::ScopedOs useDrives;
};

TEST_P(PairTest, NothingOutsideTheNamedDirectoriesIsReadIntoTheTargetOrDeleted) {
    const PairCase& c = GetParam();
    sentinels();
    const bool src = c.side == Broken::source;
    std::string source = data / "A/s", target = data / "B/t";
    std::string& broken = src ? source : target;
    switch (c.way) {
        case Way::file:
            broken = data / (src ? "A/srcfile" : "B/tfile");
            file(src ? "A/srcfile" : "B/tfile", "a plain file");
            break;
        case Way::not_ready:
            // The drive root itself: the repair never tests a root.
            broken = os::with_separator(data / (src ? "A" : "B"));
            break;
        default:
            break;
    }
    std::vector<std::array<std::string, 3>> entries;
    if (c.second) entries.push_back({data / "C/good", data / "C/goodt", "YES"});
    entries.push_back({source, target, "YES"});
    loadBatch(entries);
    if (c.move) form->Movefiles_Click();

    auto expected = everything();
    if (c.second) {
        expected[data / "C/goodt/g.txt"] = "good";
        if (c.move) expected.erase(data / "C/good/g.txt");
    }
    std::string reason;
    switch (c.way) {
        case Way::file:
            reason = "Not a directory";
            break;
        case Way::unreadable:
            reason = "injected denial";
            drives.listFault = Fault{broken, -1, os::Errc::access, reason};
            break;
        case Way::vanished:
            reason = "No such file or directory";
            drives.vanish = broken;
            if (src) {
                expected.erase(data / "A/s/in.txt");
                expected.erase(data / "A/s/sub/in2.txt");
            }
            break;
        case Way::not_ready:
            reason = "is not ready";
            drives.notReady = data / (src ? "A" : "B");
            break;
    }
    drives.clearListed();
    run();
    drives.listFault.reset();
    drives.notReady.clear();

    EXPECT_EQ(everything(), expected) << "only the good entry, if any, was replicated";
    const auto said = logWith(broken);
    ASSERT_EQ(said.size(), 1u) << "one line for the entry";
    EXPECT_NE(said[0].find("not replicated"), std::string::npos) << said[0];
    // The system's own words differ on Windows.
    if (c.way == Way::unreadable || c.way == Way::not_ready || os::separator() == '/') {
        EXPECT_NE(said[0].find(reason), std::string::npos) << said[0];
    }
    EXPECT_TRUE(sleeper.slept.size() == (c.second ? 1u : 0u)) << "its tree was never listed";
    for (const auto& l : drives.listedCopy()) {
        EXPECT_EQ(l.find(data / "A/other"), std::string::npos) << l;
        EXPECT_EQ(l.find(data / "B/bother"), std::string::npos) << l;
    }
    EXPECT_FALSE(form->running());

    // The next run does the same, now that the pickers rest where the last
    // run left them.
    if (c.way == Way::unreadable) drives.listFault = Fault{broken, -1, os::Errc::access, reason};
    if (c.way == Way::not_ready) drives.notReady = data / (src ? "A" : "B");
    if (c.way == Way::vanished) expected = everything();
    run();
    drives.listFault.reset();
    drives.notReady.clear();
    EXPECT_EQ(everything(), expected);
}

std::vector<PairCase> cases() {
    std::vector<PairCase> out;
    for (Way w : {Way::file, Way::unreadable, Way::vanished, Way::not_ready})
        for (Broken s : {Broken::source, Broken::target})
            for (bool move : {false, true})
                for (bool second : {false, true}) out.push_back({w, s, move, second});
    return out;
}

INSTANTIATE_TEST_SUITE_P(EveryWayIn, PairTest, ::testing::ValuesIn(cases()), name);

// After a run the pickers rest on its last entry. An entry 1 that turns
// unreadable afterwards must not get that entry's files.
TEST_F(PairTest, AnEntryThatTurnsUnreadableLaterIsNotFedTheLastEntrysFiles) {
    sentinels();
    file("C/s2/first.txt", "first");
    mkdirs(data / "C/t2");
    loadBatch({{data / "A/s", data / "B/t", "YES"}, {data / "C/s2", data / "C/t2", "YES"}});
    form->Movefiles_Click();
    run();
    EXPECT_EQ(at("B/t/in.txt"), "in");
    EXPECT_EQ(at("C/t2/first.txt"), "first");

    file("C/s2/second.txt", "second");
    file("A/s/later.txt", "later");
    drives.listFault = Fault{data / "A/s", -1, os::Errc::access, "injected denial"};
    const auto before = names(data / "B/t");
    run();
    run();
    drives.listFault.reset();
    EXPECT_EQ(names(data / "B/t"), before) << "nothing came into entry 1's target";
    EXPECT_EQ(at("A/s/later.txt"), "later");
    EXPECT_EQ(at("C/t2/second.txt"), "second") << "entry 2 goes on";
    EXPECT_EQ(logWith("injected denial").size(), 2u) << "a line at each run";
}

// A passing failure (no permission, an I/O error) keeps the entry in the
// batch; each run says why it was not replicated, and once the directory
// answers again the entry is replicated as before.
TEST_F(PairTest, AnEntryThatCannotBeLookedUpIsKeptAndEachRunSaysWhy) {
    sentinels();
    loadBatch({{data / "A/s", data / "B/t", "YES"}, {data / "C/good", data / "C/goodt", "NO"}});
    const std::string before = read(prog / "BATCH.INI");
    for (os::Errc code : {os::Errc::access, os::Errc::io}) {
        drives.probeFault = Fault{data / "A/s", -1, code, "injected passing failure"};
        drives.listFault = Fault{data / "A/s", -1, code, "injected passing failure"};
        run();
        EXPECT_EQ(read(prog / "BATCH.INI"), before) << "the entry is kept";
        EXPECT_EQ(form->List1.listCount(), 8) << "and listed";
    }
    drives.probeFault.reset();
    drives.listFault.reset();
    const auto said = logWith("injected passing failure");
    ASSERT_EQ(said.size(), 2u) << "a line at each run";
    EXPECT_NE(said[0].find(data / "A/s"), std::string::npos) << said[0];
    EXPECT_NE(said[0].find("not replicated"), std::string::npos) << said[0];
    EXPECT_FALSE(has("B/t/in.txt"));
    EXPECT_EQ(at("C/goodt/g.txt"), "good");
    run();
    EXPECT_EQ(at("B/t/in.txt"), "in");
    EXPECT_EQ(at("B/t/sub/in2.txt"), "in2");
}

// A subdirectory pair that cannot be opened when its turn comes: skipped
// with its subtree, and nothing above or beside it is touched.
TEST_F(PairTest, ANestedPairThatCannotBeOpenedIsSkippedAndNothingElseIsRead) {
    sentinels();
    file("A/s/sub/deeper/d.txt", "d");
    file("A/s/z/z.txt", "z");
    loadBatch({{data / "A/s", data / "B/t", "YES"}});
    form->Movefiles_Click();
    runWith(
        [&] {
            drives.listFault = Fault{data / "A/s/sub", -1, os::Errc::access, "injected denial"};
        },
        [&] { return inFileLoop(); });
    drives.listFault.reset();
    EXPECT_EQ(at("A/s/sub/in2.txt"), "in2");
    EXPECT_EQ(at("A/s/sub/deeper/d.txt"), "d");
    EXPECT_FALSE(has("B/t/sub/in2.txt"));
    EXPECT_EQ(at("B/t/z/z.txt"), "z");
    EXPECT_EQ(at("A/top.txt"), "a top");
    EXPECT_EQ(at("A/other/deep/x.txt"), "a deep");
    EXPECT_FALSE(has("B/t/other"));
    EXPECT_FALSE(has("B/t/top.txt"));
    EXPECT_EQ(logWith("injected denial").size(), 1u);
}

}  // namespace
}  // namespace qm::test
