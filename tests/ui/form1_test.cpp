// The window model right after start-up, and the handlers of the window as
// a whole.
#include "ui/form1.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <utility>

#include "engine/engine.h"
#include "engine/reader.h"
#include "support/fakes.h"
#include "support/tempdir.h"

namespace qm::test {
namespace {

class Form1Test : public ::testing::Test, protected FakeServices {
protected:
    Form1Test() : prog_os(prog.path()), use(prog_os) {}

    ui::Form1& load() {
        form = loadForm();
        return *form;
    }

    TempDir prog;
    ProgramDirOs prog_os;
    os::ScopedOs use;
    std::unique_ptr<ui::Form1> form;
};

TEST_F(Form1Test, AFreshStartIsInTheDesignedState) {
    auto& f = load();
    EXPECT_EQ(f.caption, "Quillmere");
    EXPECT_FALSE(f.CC.checked());
    EXPECT_FALSE(f.Movefiles.checked());
    EXPECT_TRUE(f.Subs.checked());
    EXPECT_EQ(f.Check2.value(), 0);
    EXPECT_FALSE(f.ProgressBar1.visible());
    for (ui::Control* c :
         {static_cast<ui::Control*>(&f.Command4), static_cast<ui::Control*>(&f.Command5),
          static_cast<ui::Control*>(&f.Command7), static_cast<ui::Control*>(&f.BronDrive),
          static_cast<ui::Control*>(&f.BronTree), static_cast<ui::Control*>(&f.Doeldrive),
          static_cast<ui::Control*>(&f.Doeltree)})
        EXPECT_FALSE(c->enabled()) << c->name();
    EXPECT_TRUE(f.Command1.enabled());
    EXPECT_TRUE(f.Command2.enabled());
    EXPECT_TRUE(f.Command3.enabled());
    EXPECT_FALSE(f.Brondir.visible());
    EXPECT_FALSE(f.Doeldir.visible());
    EXPECT_EQ(f.Brondir.pattern(), "*.*");
    EXPECT_TRUE(f.Timer1.enabled());
    EXPECT_EQ(f.Timer1.interval(), 65535);
    EXPECT_EQ(f.Slider1.min(), 0);
    EXPECT_EQ(f.Slider1.max(), 60);
    EXPECT_EQ(f.Slider1.value(), 60);
    EXPECT_EQ(f.ProgressBar1.min(), 0);
    EXPECT_EQ(f.ProgressBar1.max(), 100);
    EXPECT_EQ(f.MinuteCounter, 0);
    EXPECT_EQ(f.engine().BatchCursor, 0);
    // Two blanks between "approx." and the digits: the literal's own and the
    // sign position.
    EXPECT_EQ(f.Label1.caption(),
              "Interval in minutes 1-60 /Next update approx.  60 minutes from now...");
    EXPECT_FALSE(f.rcpopup.visible());
    EXPECT_EQ(f.mShow.caption(), "Show Interface ");
    EXPECT_EQ(f.mousePointer(), ui::MousePointer::Default);
    EXPECT_FALSE(f.ended());
}

// The environment as the program starts with it, over the program's folder.
class TickEnvOs : public ProgramDirOs {
public:
    TickEnvOs(std::string dir, std::optional<std::string> tick)
        : ProgramDirOs(std::move(dir)), tick_(std::move(tick)) {}
    std::optional<std::string> env(const std::string& n) override {
        return n == "QUILLMERE_TICK_MS" ? tick_ : ProgramDirOs::env(n);
    }

private:
    std::optional<std::string> tick_;
};

TEST_F(Form1Test, QuillmereTickMsSetsTimer1sPeriodWhenItIsAPositiveNumber) {
    const std::pair<std::optional<std::string>, int> cases[] = {
        {"1500", 1500},        {"1", 1},        {std::nullopt, 65535},
        {"", 65535},           {"0", 65535},    {"-20", 65535},
        {"15 ms", 65535},      {"soon", 65535}, {" 50", 65535},
        {"99999999999", 65535}};
    for (const auto& [tick, period] : cases) {
        TickEnvOs env(prog.path(), tick);
        os::ScopedOs with(env);
        auto f = loadForm();
        EXPECT_EQ(f->Timer1.interval(), period) << (tick ? "'" + *tick + "'" : "unset");
        // The period alone changes: the timer runs from the start, and the
        // count still starts from the slider's 60 minutes.
        EXPECT_TRUE(f->Timer1.enabled());
        EXPECT_EQ(f->Label1.caption(),
                  "Interval in minutes 1-60 /Next update approx.  60 minutes from now...");
    }
}

TEST_F(Form1Test, FirstStartShowsThePlaceholderInThePickersAndTheList) {
    auto& f = load();
    EXPECT_EQ(dialogs.count("First time"), 1);
    const std::string root = os::placeholder_root();
    EXPECT_EQ(read(prog / "BATCH.INI"),
              "[batch]\r\nSource:" + root + "\r\nTarget:" + root + "\r\nSubs:YES\r\n");
    EXPECT_EQ(f.Text3.text(), root);
    EXPECT_EQ(f.Text4.text(), root);
    EXPECT_EQ(f.BronTree.path(), root);
    EXPECT_EQ(f.Doeltree.path(), root);
    EXPECT_EQ(f.Brondir.path(), root);
    EXPECT_EQ(f.BronDrive.drive(), os::current().volume_of(root));
    EXPECT_EQ(f.SubsValue, "YES");
    ASSERT_EQ(f.List1.listCount(), 4);
    EXPECT_EQ(f.List1.items()[0], " 1. Source:" + root);
    EXPECT_EQ(f.List1.items()[3], std::string(91, '-'));
}

TEST_F(Form1Test, AnExistingBatchSelectsItsFirstEntry) {
    mkdirs(prog / "src");
    mkdirs(prog / "dst");
    write(prog / "BATCH.INI", "[batch]\r\nSource:" + (prog / "src") +
                                  "\r\nTarget:" + (prog / "dst") + "\r\nSubs:NO\r\n");
    write(prog / "src/one.txt", "1");
    auto& f = load();
    EXPECT_EQ(dialogs.count("First time"), 0);
    EXPECT_EQ(f.BronTree.path(), prog / "src");
    EXPECT_EQ(f.Doeltree.path(), prog / "dst");
    EXPECT_EQ(f.Text3.text(), prog / "src");
    EXPECT_EQ(f.SubsValue, "NO");
    ASSERT_EQ(f.Brondir.listCount(), 1);
    EXPECT_EQ(f.Brondir.list(0), "one.txt");
}

// The list is read in pieces and sorted in runs that are merged; whoever
// holds a listing keeps it unchanged through later reads.
TEST_F(Form1Test, AFileListIsSortedAndAHeldListingOutlivesARereadOfItsDirectory) {
    auto& f = load();
    mkdirs(prog / "many");
    std::vector<std::string> names;
    for (int i = 0; i < 6000; ++i) {
        names.push_back((i % 3 ? "b" : "B") + std::to_string(i * 7 % 6000) +
                        (i % 2 ? ".TXT" : ".txt"));
        write(prog / ("many/" + names.back()), std::string(static_cast<std::size_t>(i % 7), 'z'));
    }
    f.Brondir.setPath(prog / "many");
    auto held = f.Brondir.listing();
    std::sort(names.begin(), names.end(), engine::listed_before);
    ASSERT_EQ(held->names(), names);
    ASSERT_EQ(held->size(), names.size());
    for (std::size_t i = 0; i < names.size(); i += 997) {
        auto st = os::current().stat(prog / ("many/" + names[i]));
        ASSERT_TRUE(st);
        EXPECT_EQ(held->stamp(i).size, st->size) << names[i];
        EXPECT_EQ(held->stamp(i).mtime.sec, st->mtime.sec) << names[i];
    }

    ASSERT_TRUE(os::current().remove_file(prog / ("many/" + names[0])));
    int paced = 0;
    auto reread = os::current().list_dir_detailed(prog / "many", {});
    ASSERT_TRUE(reread);
    // In no order, as a system may give it (some give it sorted).
    std::shuffle(reread->begin(), reread->end(), std::mt19937(1));
    f.Brondir.show(
        engine::make_dir_read(prog / "many", std::move(reread), [&] { return ++paced, true; }));
    EXPECT_EQ(f.Brondir.listCount(), 5999);
    EXPECT_GE(paced, 3) << "called while sorting";
    EXPECT_EQ(held->names(), names) << "the held listing is not changed";
    f.Brondir.setPath(prog / "nowhere", false);
    EXPECT_EQ(f.Brondir.listCount(), 0) << "nothing of another path is kept";
    EXPECT_EQ(held->size(), 6000u);
}

TEST_F(Form1Test, ControlsAndMenusAreThoseOfTheWindowDescription) {
    auto& f = load();
    std::vector<std::string> names;
    for (auto* c : f.controls()) names.push_back(c->name());
    EXPECT_EQ(names,
              (std::vector<std::string>{
                  "Frame1",   "Command1", "BronDrive", "BronTree", "Brondir",      "Text1",
                  "Frame2",   "Command2", "Doeldir",   "Text2",    "Doeltree",     "Doeldrive",
                  "Command4", "Command5", "Slider1",   "Label1",   "ProgressBar1", "Check2",
                  "Frame3",   "List1",    "Command7",  "Text3",    "Text4",        "Command3"}));
    for (std::size_t i = 0; i < f.controls().size(); ++i)
        EXPECT_EQ(f.controls()[i]->tabIndex(), int(i));
    EXPECT_EQ(f.Command7.caption(), "&Remove from batch");
    EXPECT_EQ(f.Command7.geometry().left, 8160);
    EXPECT_EQ(f.Command7.geometry().height, 492);
    EXPECT_EQ(f.Command5.container(), "Frame1");
    EXPECT_EQ(f.ProgressBar1.container(), "Frame2");
    EXPECT_EQ(f.Check2.caption(), "Write to syncfile.log");
    EXPECT_EQ(f.Frame3.caption(), "Batch");
    EXPECT_EQ(f.Text2.geometry().left, 0);

    std::vector<std::string> menus;
    for (auto* m : f.menuItems()) menus.push_back(m->parent() + "/" + m->caption());
    EXPECT_EQ(menus,
              (std::vector<std::string>{
                  "/&File", "File/E&xit", "/&Options", "Options/&Sourcedirectory",
                  "Options/&Targetdirectory", "Options/&Confirm copy/move", "Options/&Include Subs",
                  "Options/&Move Files", "/&popupmenu", "rcpopup/Show Interface "}));
}

TEST_F(Form1Test, TogglesFlipTheirOwnMarkOnly) {
    auto& f = load();
    f.CC_Click();
    EXPECT_TRUE(f.CC.checked());
    EXPECT_TRUE(f.Subs.checked());
    EXPECT_FALSE(f.Movefiles.checked());
    f.Subs_Click();
    f.Movefiles_Click();
    EXPECT_TRUE(f.CC.checked());
    EXPECT_FALSE(f.Subs.checked());
    EXPECT_TRUE(f.Movefiles.checked());
    // Chosen from the menu, as the view reports it.
    f.CC.clicked.emit();
    f.Subs.clicked.emit();
    f.Movefiles.clicked.emit();
    EXPECT_FALSE(f.CC.checked());
    EXPECT_TRUE(f.Subs.checked());
    EXPECT_FALSE(f.Movefiles.checked());
}

TEST_F(Form1Test, StartDirectoryIsTheWorkingDirectoryWhileTheBatchStaysInTheProgramDirectory) {
    TempDir elsewhere;
    auto before = os::native().current_dir();
    ASSERT_TRUE(os::native().set_current_dir(elsewhere.path()));
    auto& f = load();
    auto cwd = os::native().current_dir();
    ASSERT_TRUE(before && cwd);
    EXPECT_EQ(os::native().identity(f.StartDirectory).value(),
              os::native().identity(elsewhere.path()).value());
    EXPECT_TRUE(exists(prog / "BATCH.INI"));
    EXPECT_FALSE(exists(elsewhere / "BATCH.INI"));
    ASSERT_TRUE(os::native().set_current_dir(*before));
}

TEST_F(Form1Test, ExitAndClosingEndTheProgramOnce) {
    auto& f = load();
    f.Exit.clicked.emit();
    EXPECT_TRUE(f.ended());
    EXPECT_EQ(app.quits, 1);
    EXPECT_FALSE(f.Timer1.enabled());
    f.Form_Unload();
    EXPECT_EQ(app.quits, 1);
}

TEST_F(Form1Test, ClosingTheWindowEndsTheProgram) {
    auto& f = load();
    f.Form_Unload();
    EXPECT_TRUE(f.ended());
    EXPECT_EQ(app.quits, 1);
}

// The lines of a directory list: the ancestors from the root down, the open
// directory, then its subdirectories.
std::vector<std::string> shown(const std::string& path, const std::vector<std::string>& subs) {
    ui::DirectoryList list("Doeltree", "Frame2", {}, 0);
    list.show(path, subs);
    std::vector<std::string> out;
    for (const auto& l : list.lines())
        out.push_back(std::string(static_cast<std::size_t>(l.depth), ' ') + l.label +
                      (l.open ? " *" : "") + "=" + l.path);
    return out;
}

TEST(DirectoryListLines, AncestorsRunFromTheRootOfTheDriveOrShare) {
    if (os::separator() == '/') {
        EXPECT_EQ(shown("/home/user/", {"b", "A"}),
                  (std::vector<std::string>{"/=/", " home=/home", "  user *=/home/user",
                                            "   A=/home/user/A", "   b=/home/user/b"}));
        EXPECT_EQ(shown("/", {}), std::vector<std::string>{"/ *=/"});
        return;
    }
    EXPECT_EQ(shown("C:\\Users\\x\\", {"sub"}),
              (std::vector<std::string>{"C:\\=C:\\", " Users=C:\\Users", "  x *=C:\\Users\\x",
                                        "   sub=C:\\Users\\x\\sub"}));
    // A share is one root, not a server and a share below "\".
    EXPECT_EQ(shown("\\\\server\\share\\dir", {"sub"}),
              (std::vector<std::string>{"\\\\server\\share\\=\\\\server\\share\\",
                                        " dir *=\\\\server\\share\\dir",
                                        "  sub=\\\\server\\share\\dir\\sub"}));
    EXPECT_EQ(shown("\\\\server\\share", {}),
              std::vector<std::string>{"\\\\server\\share\\ *=\\\\server\\share\\"});
}

// -- one box at a time ---------------------------------------------------------

// Boxes that count how many are open at once; a tick of the timer comes
// while each one is open, as it would in the box's own event loop.
class TickingDialogs : public ui::Dialogs {
public:
    void notice(const std::string& title, const std::string& text) override { open(title, text); }
    bool ask(const std::string& title, const std::string& text) override {
        open(title, text);
        return false;
    }
    std::function<void()> tick;
    std::vector<std::string> titles;
    int depth = 0, deepest = 0;

private:
    void open(const std::string& title, const std::string& text) {
        titles.push_back(title + ": " + text);
        ++depth;
        deepest = std::max(deepest, depth);
        if (tick && titles.size() < 10) tick();
        --depth;
    }
};

// Fails every write of batch.new, so every repair has to say so.
// Counts the reads of each directory; reads of one directory can be made to fail.
class ReadCountingOs : public ProgramDirOs {
public:
    using ProgramDirOs::ProgramDirOs;
    os::Result<std::vector<os::DirEntry>> list_dir(const std::string& d) override {
        return count(d) ? inner_.list_dir(d) : std::unexpected(denied(d));
    }
    os::Result<std::vector<os::DirEntry>> list_dir_detailed(
        const std::string& d, const std::function<bool()>& b) override {
        return count(d) ? inner_.list_dir_detailed(d, b) : std::unexpected(denied(d));
    }
    std::map<std::string, int> reads;
    std::string failing;

private:
    bool count(const std::string& d) {
        ++reads[os::with_separator(d)];
        return failing.empty() || os::with_separator(d) != os::with_separator(failing);
    }
    static os::Error denied(const std::string& d) {
        return os::make_error(os::Errc::access, "read directory", d, "injected denial");
    }
};

TEST_F(Form1Test, ShowingTheFirstEntryReadsEachOfItsDirectoriesOnce) {
    mkdirs(prog / "src/b");
    mkdirs(prog / "src/a");
    mkdirs(prog / "dst/c");
    write(prog / "BATCH.INI", "[batch]\r\nSource:" + (prog / "src") +
                                  "\r\nTarget:" + (prog / "dst") + "\r\nSubs:NO\r\n");
    ReadCountingOs counting(prog.path());
    os::ScopedOs useCounting(counting);
    auto& f = load();
    const std::string src = os::with_separator(prog / "src");
    const std::string dst = os::with_separator(prog / "dst");
    EXPECT_EQ(counting.reads[src], 1);
    EXPECT_EQ(counting.reads[dst], 1);
    // The trees show what a read of their own would have shown.
    ASSERT_GE(f.BronTree.lines().size(), 3u);
    EXPECT_EQ(f.BronTree.path(), prog / "src");
    EXPECT_TRUE(f.BronTree.lines()[f.BronTree.lines().size() - 3].open);
    EXPECT_EQ(f.BronTree.lines()[f.BronTree.lines().size() - 2].label, "a");
    EXPECT_EQ(f.BronTree.lines().back().label, "b");
    EXPECT_EQ(f.Doeltree.path(), prog / "dst");
    EXPECT_EQ(f.Doeltree.lines().back().label, "c");

    // Each tick shows the entry again, with what is there now.
    mkdirs(prog / "src/d");
    f.Timer1_Timer();
    EXPECT_EQ(counting.reads[src], 2);
    EXPECT_EQ(f.BronTree.lines().back().label, "d");

    // A directory that cannot be read leaves its tree where it was.
    counting.failing = prog / "dst";
    (void)f.Doeltree.setPath(prog.path());
    f.Timer1_Timer();
    EXPECT_EQ(f.Doeltree.path(), prog.path());
    EXPECT_TRUE(f.Doeldir.error());
}

class NoWriteOs : public ProgramDirOs {
public:
    using ProgramDirOs::ProgramDirOs;
    os::Status write_file(const std::string& p, std::string_view d, bool durable) override {
        if (p.ends_with("batch.new"))
            return std::unexpected(
                os::make_error(os::Errc::access, "create", p, "injected denial"));
        return inner_.write_file(p, d, durable);
    }
};

TEST_F(Form1Test, ATickWhileTheFirstStartBoxIsOpenIsDroppedAndStacksNoBox) {
    TickingDialogs boxes;
    ui::Services s = services();
    s.dialogs = &boxes;
    form = std::make_unique<ui::Form1>(s);
    boxes.tick = [&] { form->Timer1_Timer(); };
    form->Form_Load();
    EXPECT_EQ(boxes.deepest, 1);
    ASSERT_EQ(boxes.titles.size(), 1u);
    EXPECT_EQ(boxes.titles[0].rfind("First time: ", 0), 0u);
    EXPECT_EQ(form->MinuteCounter, 0) << "the tick was dropped, not counted";
    EXPECT_EQ(form->Label1.caption(), form->countdownText(true));

    // Once the box is closed, ticks count again.
    boxes.tick = nullptr;
    form->Timer1_Timer();
    EXPECT_EQ(form->MinuteCounter, 1);
}

TEST_F(Form1Test, ATickWhileABatchFileBoxIsOpenStacksNoSecondBox) {
    // A header to repair: every tick tries to rewrite the file.
    write(prog / "BATCH.INI", "[Batch]\r\nSource:" + os::placeholder_root() +
                                  "\r\nTarget:" + os::placeholder_root() + "\r\nSubs:NO\r\n");
    NoWriteOs failing(prog.path());
    os::ScopedOs useFailing(failing);
    TickingDialogs boxes;
    ui::Services s = services();
    s.dialogs = &boxes;
    form = std::make_unique<ui::Form1>(s);
    form->Form_Load();
    ASSERT_EQ(boxes.titles.size(), 1u) << "the repair could not write";
    boxes.tick = [&] { form->Timer1_Timer(); };
    for (int i = 0; i < 3; ++i) form->Timer1_Timer();
    EXPECT_EQ(boxes.deepest, 1) << "never a box on a box";
    EXPECT_EQ(boxes.titles.size(), 4u) << "one box a tick, each tick's own";
    EXPECT_EQ(form->MinuteCounter, 3) << "only the ticks outside a box count";
    for (const auto& t : boxes.titles) EXPECT_NE(t.find("injected denial"), std::string::npos) << t;
}

}  // namespace
}  // namespace qm::test
