// The Win32 window checked from inside: every control of Form1 as a native
// control at its place, with its caption and state; the menus; user actions
// sent as the controls' own messages reach the model; the message boxes and
// the event pump. Needs a display (Xvfb under Wine).
// clang-format off
#include <windows.h>  // before every other Windows header
// clang-format on

#include "win32/window.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "support/fakes.h"
#include "support/tempdir.h"
#include "ui/form1.h"
#include "win32/services.h"
#include "win32/text.h"
#include "win32/tray.h"

namespace qm::test {
namespace {

using win32::MainWindow;

std::wstring className(HWND w) {
    wchar_t buf[64] = {};
    ::GetClassNameW(w, buf, 64);
    return buf;
}

std::string textOf(HWND w) {
    wchar_t buf[512] = {};
    ::GetWindowTextW(w, buf, 512);
    return win32::utf8(buf);
}

RECT clientRect(HWND parent, HWND w) {
    RECT r{};
    ::GetWindowRect(w, &r);
    ::MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

std::string menuText(HMENU m, UINT pos) {
    wchar_t buf[128] = {};
    ::GetMenuStringW(m, pos, buf, 128, MF_BYPOSITION);
    return win32::utf8(buf);
}

// Twips to pixels at 96 DPI, rounded to the nearest.
int at96(int twips) {
    return (twips * 96 + 720) / 1440;
}

bool menuChecked(HMENU m, UINT id) {
    return (::GetMenuState(m, id, MF_BYCOMMAND) & MF_CHECKED) != 0;
}

std::wstring listText(HWND list, UINT get, UINT len, WPARAM i) {
    std::wstring text(static_cast<std::size_t>(::SendMessageW(list, len, i, 0)) + 1, L'\0');
    ::SendMessageW(list, get, i, reinterpret_cast<LPARAM>(text.data()));
    text.resize(wcslen(text.c_str()));
    return text;
}

// Every window shows what its control holds: state, text, items, selection,
// and every menu item's mark.
void expectShowsModel(ui::Form1& form, const MainWindow& window) {
    for (ui::Control* c : form.controls()) {
        HWND h = window.controlWindow(c->name());
        if (!h) continue;
        SCOPED_TRACE(c->name());
        EXPECT_EQ(::IsWindowEnabled(h) != FALSE, c->enabled());
        EXPECT_EQ((::GetWindowLongW(h, GWL_STYLE) & WS_VISIBLE) != 0, c->visible());
        if (auto* l = dynamic_cast<ui::Label*>(c)) {
            EXPECT_EQ(textOf(h), l->caption());
        } else if (auto* x = dynamic_cast<ui::TextBox*>(c)) {
            EXPECT_EQ(textOf(h), x->text());
        } else if (auto* k = dynamic_cast<ui::CheckBox*>(c)) {
            EXPECT_EQ(::SendMessageW(h, BM_GETCHECK, 0, 0),
                      k->value() == 1 ? BST_CHECKED : BST_UNCHECKED);
        } else if (auto* sl = dynamic_cast<ui::Slider*>(c)) {
            EXPECT_EQ(::SendMessageW(h, TBM_GETPOS, 0, 0), sl->value());
        } else if (auto* p = dynamic_cast<ui::ProgressBar*>(c)) {
            EXPECT_EQ(::SendMessageW(h, PBM_GETPOS, 0, 0), p->value());
            EXPECT_EQ(::SendMessageW(h, PBM_GETRANGE, TRUE, 0), p->min());
            EXPECT_EQ(::SendMessageW(h, PBM_GETRANGE, FALSE, 0), p->max());
        } else if (auto* lb = dynamic_cast<ui::ListBox*>(c)) {
            ASSERT_EQ(::SendMessageW(h, LB_GETCOUNT, 0, 0), lb->listCount());
            for (int i = 0; i < lb->listCount(); ++i)
                EXPECT_EQ(win32::utf8(listText(h, LB_GETTEXT, LB_GETTEXTLEN, i)),
                          lb->items()[static_cast<std::size_t>(i)]);
            EXPECT_EQ(::SendMessageW(h, LB_GETCURSEL, 0, 0), lb->listIndex());
        } else if (auto* d = dynamic_cast<ui::DriveList*>(c)) {
            ASSERT_EQ(::SendMessageW(h, CB_GETCOUNT, 0, 0),
                      static_cast<LRESULT>(d->drives().size()));
            int sel = -1;
            for (std::size_t i = 0; i < d->drives().size(); ++i) {
                EXPECT_EQ(win32::utf8(listText(h, CB_GETLBTEXT, CB_GETLBTEXTLEN, i)),
                          d->drives()[i]);
                if (d->drives()[i] == d->drive()) sel = static_cast<int>(i);
            }
            EXPECT_EQ(::SendMessageW(h, CB_GETCURSEL, 0, 0), sel);
        } else if (auto* t = dynamic_cast<ui::DirectoryList*>(c)) {
            const auto& lines = t->lines();
            ASSERT_EQ(::SendMessageW(h, LB_GETCOUNT, 0, 0), static_cast<LRESULT>(lines.size()));
            int open = -1;
            for (std::size_t i = 0; i < lines.size(); ++i) {
                EXPECT_EQ(win32::utf8(listText(h, LB_GETTEXT, LB_GETTEXTLEN, i)), lines[i].label);
                EXPECT_EQ(::SendMessageW(h, LB_GETITEMDATA, i, 0), lines[i].depth);
                if (lines[i].open) open = static_cast<int>(i);
            }
            EXPECT_EQ(::SendMessageW(h, LB_GETCURSEL, 0, 0), open);
        } else if (auto* b = dynamic_cast<ui::Button*>(c)) {
            EXPECT_EQ(textOf(h), b->caption());
        }
    }
    for (ui::MenuItem* m : form.menuItems()) {
        if (m->parent().empty()) continue;
        SCOPED_TRACE(m->name());
        HMENU menu = m->parent() == "rcpopup" ? window.popupMenu() : window.menuBar();
        const UINT state = ::GetMenuState(menu, window.menuId(m->name()), MF_BYCOMMAND);
        ASSERT_NE(state, static_cast<UINT>(-1));
        EXPECT_EQ((state & MF_CHECKED) != 0, m->checked());
        EXPECT_EQ((state & MF_GRAYED) == 0, m->enabled());
    }
}

// Counts the positions a progress bar is given, and passes them on.
struct ProgressSpy {
    static inline WNDPROC original = nullptr;
    static inline int positions = 0;
    static LRESULT CALLBACK proc(HWND h, UINT m, WPARAM wp, LPARAM lp) {
        if (m == PBM_SETPOS) ++positions;
        return ::CallWindowProcW(original, h, m, wp, lp);
    }
    explicit ProgressSpy(HWND h) : bar(h) {
        positions = 0;
        original = reinterpret_cast<WNDPROC>(
            ::SetWindowLongPtrW(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&proc)));
    }
    ~ProgressSpy() { ::SetWindowLongPtrW(bar, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original)); }
    HWND bar;
};

class WindowTest : public ::testing::Test, protected FakeServices {
protected:
    WindowTest() : prog_os(prog.path()), use(prog_os) {
        ui::Services s = services();
        s.tray = &tray;
        // A run yields to the window's messages as it does in the program.
        s.pump = &messages;
        form = std::make_unique<ui::Form1>(s);
        window = std::make_unique<MainWindow>(*form, ::GetModuleHandleW(nullptr), 96);
        messages.setWindow(window.get());
        form->Form_Load();
        window->drawNow();
        form->setVisible(true);
        dialogs.boxes.clear();
    }
    HWND w(const std::string& name) { return window->controlWindow(name); }
    void command(HWND control, int code) {
        ::SendMessageW(window->hwnd(), WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(control), code),
                       reinterpret_cast<LPARAM>(control));
    }
    void menu(const std::string& item) {
        ::SendMessageW(window->hwnd(), WM_COMMAND, MAKEWPARAM(window->menuId(item), 0), 0);
    }

    TempDir prog;
    ProgramDirOs prog_os;
    os::ScopedOs use;
    FakeTray tray;
    win32::Pump messages;
    std::unique_ptr<ui::Form1> form;
    std::unique_ptr<MainWindow> window;
};

TEST_F(WindowTest, EveryControlIsANativeControlAtItsPlaceWithItsCaption) {
    EXPECT_EQ(textOf(window->hwnd()), "Quillmere");
    RECT client{};
    ::GetClientRect(window->hwnd(), &client);
    EXPECT_EQ(client.right, window->px(ui::Form1::kClientWidth));
    EXPECT_EQ(client.bottom, window->px(ui::Form1::kClientHeight));
    EXPECT_EQ(window->px(1440), 96);

    struct Want {
        const char* name;
        const wchar_t* cls;
        const char* text;  // null: not compared
    };
    const Want wants[] = {
        {"Frame1", L"Button", "Sourceproperties"},
        {"Command1", L"Button", "&Source"},
        {"BronDrive", L"ComboBox", nullptr},
        {"BronTree", L"ListBox", nullptr},
        {"Text1", L"Edit", ""},
        {"Frame2", L"Button", "Targetproperties"},
        {"Command2", L"Button", "&Target"},
        {"Text2", L"Edit", ""},
        {"Doeltree", L"ListBox", nullptr},
        {"Doeldrive", L"ComboBox", nullptr},
        {"Command4", L"Button", "&OK"},
        {"Command5", L"Button", "&OK"},
        {"Slider1", L"msctls_trackbar32", nullptr},
        {"Label1", L"Static",
         "Interval in minutes 1-60 /Next update approx.  60 minutes from now..."},
        {"ProgressBar1", L"msctls_progress32", nullptr},
        {"Check2", L"Button", "Write to syncfile.log"},
        {"Frame3", L"Button", "Batch"},
        {"List1", L"ListBox", nullptr},
        {"Command7", L"Button", "&Remove from batch"},
        {"Text3", L"Edit", "C:\\"},
        {"Text4", L"Edit", "C:\\"},
        {"Command3", L"Button", "&Hide"},
    };
    for (const Want& want : wants) {
        SCOPED_TRACE(want.name);
        HWND h = w(want.name);
        ASSERT_NE(h, nullptr);
        EXPECT_EQ(::GetParent(h), window->hwnd());
        EXPECT_EQ(className(h), want.cls);
        if (want.text) {
            EXPECT_EQ(textOf(h), want.text);
        }
    }
    EXPECT_EQ(w("Brondir"), nullptr);
    EXPECT_EQ(w("Doeldir"), nullptr);

    // Positions: twips at 96 DPI, in a frame relative to the frame.
    for (ui::Control* c : form->controls()) {
        HWND h = w(c->name());
        if (!h) continue;
        SCOPED_TRACE(c->name());
        int left = c->geometry().left, top = c->geometry().top;
        for (ui::Control* f : form->controls())
            if (f->name() == c->container()) {
                left += f->geometry().left;
                top += f->geometry().top;
            }
        const RECT r = clientRect(window->hwnd(), h);
        EXPECT_EQ(r.left, at96(left));
        EXPECT_EQ(r.top, at96(top));
        EXPECT_EQ(r.right - r.left, at96(c->geometry().width));
        // A drop-down list is as high as its font makes it.
        if (className(h) != L"ComboBox") {
            EXPECT_EQ(r.bottom - r.top, at96(c->geometry().height));
        }
    }
    // The frame on the source side ends left of the target side's.
    EXPECT_EQ(clientRect(window->hwnd(), w("Frame1")).right, at96(120) + at96(3132));
}

TEST_F(WindowTest, AFreshStartShowsTheDescribedStates) {
    for (const char* off :
         {"BronDrive", "BronTree", "Doeltree", "Doeldrive", "Command4", "Command5", "Command7"})
        EXPECT_FALSE(::IsWindowEnabled(w(off))) << off;
    for (const char* on : {"Command1", "Command2", "Command3", "Slider1", "List1", "Check2"})
        EXPECT_TRUE(::IsWindowEnabled(w(on))) << on;
    EXPECT_FALSE(::IsWindowVisible(w("ProgressBar1")));
    EXPECT_TRUE(::IsWindowVisible(w("List1")));
    EXPECT_TRUE(::IsWindowVisible(window->hwnd()));
    EXPECT_EQ(::SendMessageW(w("Check2"), BM_GETCHECK, 0, 0), BST_UNCHECKED);
    EXPECT_EQ(::SendMessageW(w("Slider1"), TBM_GETRANGEMIN, 0, 0), 0);
    EXPECT_EQ(::SendMessageW(w("Slider1"), TBM_GETRANGEMAX, 0, 0), 60);
    EXPECT_EQ(::SendMessageW(w("Slider1"), TBM_GETPOS, 0, 0), 60);
    EXPECT_EQ(::SendMessageW(w("ProgressBar1"), PBM_GETRANGE, FALSE, 0), 100);

    // The batch list: the placeholder entry and its ruler.
    HWND list = w("List1");
    ASSERT_EQ(::SendMessageW(list, LB_GETCOUNT, 0, 0), 4);
    wchar_t line[128] = {};
    ::SendMessageW(list, LB_GETTEXT, 0, reinterpret_cast<LPARAM>(line));
    EXPECT_STREQ(line, L" 1. Source:C:\\");
    ::SendMessageW(list, LB_GETTEXT, 2, reinterpret_cast<LPARAM>(line));
    EXPECT_STREQ(line, L" 1. Include Subs:YES");

    // The drive lists: the machine's drives, C: selected.
    HWND drives = w("BronDrive");
    const auto n = ::SendMessageW(drives, CB_GETCOUNT, 0, 0);
    EXPECT_EQ(n, static_cast<LRESULT>(form->BronDrive.drives().size()));
    wchar_t roots[256] = {};
    const DWORD len = ::GetLogicalDriveStringsW(255, roots);
    int count = 0;
    for (const wchar_t* p = roots; p < roots + len && *p; p += wcslen(p) + 1) ++count;
    EXPECT_EQ(n, count);
    ::SendMessageW(drives, CB_GETLBTEXT,
                   static_cast<WPARAM>(::SendMessageW(drives, CB_GETCURSEL, 0, 0)),
                   reinterpret_cast<LPARAM>(line));
    EXPECT_EQ(win32::utf8(line), form->BronDrive.drive());

    // The directory list: the root open, its subdirectories below it.
    HWND tree = w("BronTree");
    EXPECT_EQ(::SendMessageW(tree, LB_GETCOUNT, 0, 0),
              static_cast<LRESULT>(form->BronTree.lines().size()));
    EXPECT_EQ(::SendMessageW(tree, LB_GETCURSEL, 0, 0), 0);
}

TEST_F(WindowTest, TheControlsAreCreatedInTabOrder) {
    std::vector<std::string> expected;
    for (ui::Control* c : form->controls())
        if (w(c->name()) && !dynamic_cast<ui::Frame*>(c)) expected.push_back(c->name());
    std::vector<std::string> seen;
    for (HWND h = ::GetWindow(window->hwnd(), GW_CHILD); h; h = ::GetWindow(h, GW_HWNDNEXT))
        for (ui::Control* c : form->controls())
            if (w(c->name()) == h && !dynamic_cast<ui::Frame*>(c)) seen.push_back(c->name());
    EXPECT_EQ(seen, expected);
    // Tab moves from the enabled "&Source" to "&Target", skipping what is disabled.
    EXPECT_EQ(::GetNextDlgTabItem(window->hwnd(), w("Command1"), FALSE), w("Text1"));
    EXPECT_EQ(::GetNextDlgTabItem(window->hwnd(), w("Text1"), FALSE), w("Command2"));
}

TEST_F(WindowTest, MenusCarryTheirCaptionsAndCheckMarksAndThePopupIsNotOnTheBar) {
    HMENU bar = window->menuBar();
    ASSERT_EQ(::GetMenuItemCount(bar), 2);
    EXPECT_EQ(menuText(bar, 0), "&File");
    EXPECT_EQ(menuText(bar, 1), "&Options");
    HMENU file = ::GetSubMenu(bar, 0);
    ASSERT_EQ(::GetMenuItemCount(file), 1);
    EXPECT_EQ(menuText(file, 0), "E&xit");
    HMENU options = ::GetSubMenu(bar, 1);
    ASSERT_EQ(::GetMenuItemCount(options), 5);
    const char* captions[] = {"&Sourcedirectory", "&Targetdirectory", "&Confirm copy/move",
                              "&Include Subs", "&Move Files"};
    for (UINT i = 0; i < 5; ++i) EXPECT_EQ(menuText(options, i), captions[i]);
    EXPECT_FALSE(menuChecked(options, window->menuId("CC")));
    EXPECT_TRUE(menuChecked(options, window->menuId("Subs")));
    EXPECT_FALSE(menuChecked(options, window->menuId("Movefiles")));

    HMENU popup = window->popupMenu();
    ASSERT_EQ(::GetMenuItemCount(popup), 1);
    EXPECT_EQ(menuText(popup, 0), "Show Interface ");
    for (int i = 0; i < ::GetMenuItemCount(bar); ++i) EXPECT_NE(::GetSubMenu(bar, i), popup);

    // Each toggle flips its own mark, twice back to where it was.
    menu("CC");
    EXPECT_TRUE(form->CC.checked());
    EXPECT_TRUE(menuChecked(options, window->menuId("CC")));
    EXPECT_TRUE(menuChecked(options, window->menuId("Subs")));
    menu("Subs");
    menu("Movefiles");
    EXPECT_FALSE(menuChecked(options, window->menuId("Subs")));
    EXPECT_TRUE(menuChecked(options, window->menuId("Movefiles")));
    menu("CC");
    EXPECT_FALSE(form->CC.checked());
    EXPECT_FALSE(menuChecked(options, window->menuId("CC")));
}

TEST_F(WindowTest, TheControlsOwnMessagesReachTheModel) {
    // "&Source": the source lists open, the timer stops.
    ::SendMessageW(w("Command1"), BM_CLICK, 0, 0);
    EXPECT_TRUE(::IsWindowEnabled(w("BronTree")));
    EXPECT_TRUE(::IsWindowEnabled(w("BronDrive")));
    EXPECT_TRUE(::IsWindowEnabled(w("Command5")));
    EXPECT_FALSE(::IsWindowEnabled(w("Command1")));
    EXPECT_FALSE(form->Timer1.enabled());

    // A highlighted line opens nothing; a double click opens it.
    HWND tree = w("BronTree");
    ASSERT_GE(::SendMessageW(tree, LB_GETCOUNT, 0, 0), 2) << "C:\\ has no subdirectory";
    const std::string root = form->BronTree.path();
    ::SendMessageW(tree, LB_SETCURSEL, 1, 0);
    command(tree, LBN_SELCHANGE);
    EXPECT_EQ(form->BronTree.path(), root);
    const std::string target = form->BronTree.lines()[1].path;
    command(tree, LBN_DBLCLK);
    EXPECT_EQ(form->BronTree.path(), target);
    EXPECT_EQ(::SendMessageW(tree, LB_GETCOUNT, 0, 0),
              static_cast<LRESULT>(form->BronTree.lines().size()));
    // Enter opens the highlighted line of the list that has the focus.
    ::SetFocus(tree);
    ::SendMessageW(tree, LB_SETCURSEL, 0, 0);
    ::SendMessageW(window->hwnd(), WM_COMMAND, IDOK, 0);
    EXPECT_EQ(form->BronTree.path(), root);

    // The slider taken to 0 springs to 1; the countdown follows.
    HWND slider = w("Slider1");
    ::SendMessageW(slider, TBM_SETPOS, TRUE, 0);
    ::SendMessageW(window->hwnd(), WM_HSCROLL, TB_ENDTRACK, reinterpret_cast<LPARAM>(slider));
    EXPECT_EQ(form->Slider1.value(), 1);
    EXPECT_EQ(::SendMessageW(slider, TBM_GETPOS, 0, 0), 1);
    EXPECT_EQ(textOf(w("Label1")),
              "Interval in minutes 1-60 /Next update approx.  1 minutes from now...");

    // The log switch.
    ::SendMessageW(w("Check2"), BM_CLICK, 0, 0);
    EXPECT_EQ(form->Check2.value(), 1);

    // A line of the batch list selects its entry.
    HWND list = w("List1");
    ::SendMessageW(list, LB_SETCURSEL, 1, 0);
    command(list, LBN_SELCHANGE);
    EXPECT_EQ(form->List1.listIndex(), 1);
}

TEST_F(WindowTest, AControlTheModelHasDisabledDoesNothingBeforeItIsDrawn) {
    // Each disabled by the model within a frame, so still drawn enabled.
    form->Command1.setEnabled(false);
    ASSERT_TRUE(::IsWindowEnabled(w("Command1")));
    command(w("Command1"), BN_CLICKED);
    EXPECT_FALSE(form->Command5.enabled()) << "a choice of source started";
    EXPECT_TRUE(form->Timer1.enabled());
    EXPECT_FALSE(::IsWindowEnabled(w("Command1"))) << "the click draws the window";

    form->Check2.setEnabled(false);
    ASSERT_TRUE(::IsWindowEnabled(w("Check2")));
    ::SendMessageW(w("Check2"), BM_CLICK, 0, 0);
    EXPECT_EQ(form->Check2.value(), 0);
    EXPECT_EQ(::SendMessageW(w("Check2"), BM_GETCHECK, 0, 0), BST_UNCHECKED) << "springs back";

    form->List1.setEnabled(false);
    HWND list = w("List1");
    ASSERT_TRUE(::IsWindowEnabled(list));
    const int index = form->List1.listIndex();
    ::SendMessageW(list, LB_SETCURSEL, 2, 0);
    command(list, LBN_SELCHANGE);
    EXPECT_EQ(form->List1.listIndex(), index);
    EXPECT_EQ(::SendMessageW(list, LB_GETCURSEL, 0, 0), index);

    form->Slider1.setEnabled(false);
    HWND slider = w("Slider1");
    ASSERT_TRUE(::IsWindowEnabled(slider));
    ::SendMessageW(slider, TBM_SETPOS, TRUE, 5);
    ::SendMessageW(window->hwnd(), WM_HSCROLL, TB_ENDTRACK, reinterpret_cast<LPARAM>(slider));
    EXPECT_EQ(form->Slider1.value(), 60);
    EXPECT_EQ(::SendMessageW(slider, TBM_GETPOS, 0, 0), 60);

    // The source lists, opened and drawn so, then disabled within a frame:
    // neither a double click, nor Enter, nor a drive chosen acts.
    form->BD_Click();
    window->drawNow();
    form->BronTree.setEnabled(false);
    form->BronDrive.setEnabled(false);
    HWND tree = w("BronTree");
    ASSERT_TRUE(::IsWindowEnabled(tree));
    ASSERT_GE(::SendMessageW(tree, LB_GETCOUNT, 0, 0), 2) << "C:\\ has no subdirectory";
    const std::string path = form->BronTree.path();
    ::SendMessageW(tree, LB_SETCURSEL, 1, 0);
    command(tree, LBN_DBLCLK);
    EXPECT_EQ(form->BronTree.path(), path);
    EXPECT_FALSE(::IsWindowEnabled(tree)) << "the click draws the window";
    ::EnableWindow(tree, TRUE);  // as if still drawn enabled: the next act draws it again
    ::SetFocus(tree);
    ::SendMessageW(tree, LB_SETCURSEL, 0, 0);
    ::SendMessageW(window->hwnd(), WM_COMMAND, IDOK, 0);
    EXPECT_EQ(form->BronTree.path(), path);

    HWND drive = w("BronDrive");
    const auto drives = ::SendMessageW(drive, CB_GETCOUNT, 0, 0);
    ASSERT_GE(drives, 1);
    const auto chosen = ::SendMessageW(drive, CB_GETCURSEL, 0, 0);
    const std::string was = form->BronDrive.drive();
    ::EnableWindow(drive, TRUE);
    ::SendMessageW(drive, CB_SETCURSEL, static_cast<WPARAM>((chosen + 1) % drives), 0);
    command(drive, CBN_SELENDOK);
    EXPECT_EQ(form->BronDrive.drive(), was);
    EXPECT_EQ(::SendMessageW(drive, CB_GETCURSEL, 0, 0), chosen) << "springs back";

    // A menu command: "Move files" stays as it was.
    const bool moving = form->Movefiles.checked();
    form->Movefiles.setEnabled(false);
    menu("Movefiles");
    EXPECT_EQ(form->Movefiles.checked(), moving);
    expectShowsModel(*form, *window);
}

TEST_F(WindowTest, HideAndShowInterfaceFollowTheModel) {
    ::SendMessageW(w("Command3"), BM_CLICK, 0, 0);
    EXPECT_FALSE(form->visible());
    EXPECT_FALSE(::IsWindowVisible(window->hwnd()));
    // Hidden, it draws nothing, even when asked; shown, all it missed.
    form->Label1.setCaption("while hidden");
    window->drawNow();
    EXPECT_NE(textOf(w("Label1")), "while hidden");
    EXPECT_TRUE(window->menuCommand(window->menuId("mShow")));
    EXPECT_TRUE(::IsWindowVisible(window->hwnd()));
    EXPECT_EQ(textOf(w("Label1")), "while hidden");
    expectShowsModel(*form, *window);
    EXPECT_FALSE(window->menuCommand(12345));
}

TEST_F(WindowTest, OnlyTheRightButtonsPressOnTheIconOpensThePopup) {
    win32::NotifyIcon icon;
    icon.attach(window->hwnd(), window->icon(true), window->popupMenu(), {});
    window->setTray(&icon);
    // The icon's id tells its messages from the window's own right button.
    ::SendMessageW(window->hwnd(), WM_RBUTTONUP, MK_SHIFT, WM_RBUTTONDOWN);
    for (LPARAM other : {WM_MOUSEMOVE, WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_RBUTTONUP,
                         WM_MBUTTONDOWN})
        ::SendMessageW(window->hwnd(), win32::NotifyIcon::kCallbackMessage, win32::NotifyIcon::kId,
                       other);
    EXPECT_EQ(tray.popups, 0);
    ::SendMessageW(window->hwnd(), win32::NotifyIcon::kCallbackMessage, win32::NotifyIcon::kId,
                   WM_RBUTTONDOWN);
    EXPECT_EQ(tray.popups, 1);
    window->setTray(nullptr);
}

TEST_F(WindowTest, Timer1RunsAtItsIntervalAndStopsWithTheModel) {
    // The timer is the window's, under its own id; switching the model's
    // off kills it, so killing it again fails.
    EXPECT_TRUE(form->Timer1.enabled());
    form->Timer1.setEnabled(false);
    EXPECT_FALSE(::KillTimer(window->hwnd(), MainWindow::kTimer1));
    form->Timer1.setEnabled(true);
    EXPECT_TRUE(::KillTimer(window->hwnd(), MainWindow::kTimer1));
    // A WM_TIMER counts a minute.
    ::SendMessageW(window->hwnd(), WM_TIMER, MainWindow::kTimer1, 0);
    EXPECT_EQ(form->MinuteCounter, 1);
    EXPECT_EQ(textOf(w("Label1")),
              "Interval in minutes 1-60/Next update approx.  59 minutes from now...");
}

TEST_F(WindowTest, AfterARunTheListsShowWhatTheModelHolds) {
    TempDir data;
    mkdirs(data / "s/a/b");
    mkdirs(data / "s/c");
    write(data / "s/a/b/f.txt", "x");
    mkdirs(data / "t");
    write(prog / "BATCH.INI",
          "[batch]\r\nSource:" + (data / "s") + "\r\nTarget:" + (data / "t") + "\r\nSubs:YES\r\n");
    form->Slider1.setValue(1);
    ::SendMessageW(window->hwnd(), WM_TIMER, MainWindow::kTimer1, 0);
    ASSERT_TRUE(exists(data / "t/a/b/f.txt"));
    // What changed while the run went on is drawn within moments.
    for (int i = 0; i < 20; ++i) {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
        ::Sleep(10);
    }
    for (const char* name : {"BronTree", "Doeltree"}) {
        SCOPED_TRACE(name);
        HWND tree = w(name);
        const auto& lines =
            (std::string(name) == "BronTree" ? form->BronTree : form->Doeltree).lines();
        ASSERT_EQ(::SendMessageW(tree, LB_GETCOUNT, 0, 0), static_cast<LRESULT>(lines.size()));
        int open = -1;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            wchar_t line[512] = {};
            ::SendMessageW(tree, LB_GETTEXT, i, reinterpret_cast<LPARAM>(line));
            EXPECT_EQ(win32::utf8(line), lines[i].label);
            if (lines[i].open) open = static_cast<int>(i);
        }
        EXPECT_EQ(::SendMessageW(tree, LB_GETCURSEL, 0, 0), open);
    }
    EXPECT_EQ(textOf(w("Text3")), data / "s");
    expectShowsModel(*form, *window);
    EXPECT_FALSE(::IsWindowVisible(w("ProgressBar1")));
    EXPECT_EQ(textOf(w("Label1")),
              "Interval in minutes 1-60/Next update approx.  1 minutes from now...");
}

TEST_F(WindowTest, ARunFullOfChangesIsDrawnAtAHumanRateAndEndsShowingTheModel) {
    TempDir data;
    constexpr int kDirs = 4, kFiles = 150;
    for (int d = 0; d < kDirs; ++d) {
        const std::string dir = data / ("s/d" + std::to_string(d));
        mkdirs(dir);
        for (int f = 0; f < kFiles; ++f) write(dir + "/f" + std::to_string(f) + ".txt", "x");
    }
    write(data / "s/top.txt", "y");
    mkdirs(data / "t");
    write(prog / "BATCH.INI",
          "[batch]\r\nSource:" + (data / "s") + "\r\nTarget:" + (data / "t") + "\r\nSubs:YES\r\n");
    ::SendMessageW(w("Check2"), BM_CLICK, 0, 0);  // a log line per directory too
    form->Slider1.setValue(1);
    window->drawNow();

    long changes = 0;
    form->ProgressBar1.changed.connect([&] { ++changes; });
    const long framesBefore = window->redraw().frames();
    ProgressSpy spy(w("ProgressBar1"));
    const auto start = std::chrono::steady_clock::now();
    // Started as the program starts it: by Timer1's message.
    ::SendMessageW(window->hwnd(), WM_TIMER, MainWindow::kTimer1, 0);
    const auto took = std::chrono::steady_clock::now() - start;
    ASSERT_FALSE(form->running());
    for (int d = 0; d < kDirs; ++d)
        ASSERT_TRUE(exists(
            data / ("t/d" + std::to_string(d) + "/f" + std::to_string(kFiles - 1) + ".txt")));

    // Shown at once when the run has ended, without waiting for a frame.
    expectShowsModel(*form, *window);
    EXPECT_FALSE(window->redraw().pending());
    EXPECT_EQ(textOf(w("Text3")), data / "s");
    // Every file moved the bar; it was drawn at most once a frame, frames
    // came at most once a frame period, and fewer than the moves. How much
    // fewer depends on how fast the disk makes files.
    const long frames = window->redraw().frames() - framesBefore;
    EXPECT_GE(changes, kDirs * kFiles);
    EXPECT_GT(ProgressSpy::positions, 0) << "nothing was drawn while the run went on";
    EXPECT_LE(ProgressSpy::positions, frames);
    EXPECT_LE(frames, took / ui::Redraw::kFrame + 2);
    EXPECT_LT(ProgressSpy::positions, changes)
        << ProgressSpy::positions << " positions drawn for " << changes << " changes";

    // Nothing is left to draw: a while later the window is as it was.
    for (int i = 0; i < 10; ++i) {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
        ::Sleep(10);
    }
    expectShowsModel(*form, *window);
}

TEST_F(WindowTest, AModelChangeOutsideARunIsDrawnByTheNextFrame) {
    const long frames = window->redraw().frames();
    form->Text3.setText("C:\\x");
    form->Label1.setCaption("changed");
    form->Check2.setValue(1);
    form->Check2.setValue(0);
    form->Check2.setValue(1);
    // Nothing is drawn while the change is being made...
    EXPECT_EQ(textOf(w("Text3")), "C:\\");
    EXPECT_TRUE(window->redraw().pending());
    // ...and all of it by one frame, from the frame timer.
    for (int i = 0; i < 50 && window->redraw().pending(); ++i) {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
        ::Sleep(10);
    }
    EXPECT_FALSE(window->redraw().pending());
    EXPECT_EQ(window->redraw().frames(), frames + 1);
    expectShowsModel(*form, *window);
}

TEST_F(WindowTest, ClosingTheWindowEndsTheProgram) {
    ::SendMessageW(window->hwnd(), WM_CLOSE, 0, 0);
    EXPECT_TRUE(form->ended());
    EXPECT_EQ(app.quits, 1);
}

TEST_F(WindowTest, TheEndOfTheSessionEndsTheProgramAndAnEndCalledOffDoesNot) {
    ::SendMessageW(window->hwnd(), WM_ENDSESSION, FALSE, 0);
    EXPECT_FALSE(form->ended());
    ::SendMessageW(window->hwnd(), WM_ENDSESSION, TRUE, 0);
    EXPECT_TRUE(form->ended());
    EXPECT_EQ(app.quits, 1);
}

// A message box found by its title from another thread: its text, whether it
// shows an icon, and the button pressed.
struct BoxSeen {
    std::string text;
    bool icon = false;
    bool found = false;
};

std::thread answer(const wchar_t* title, WORD button, BoxSeen& seen) {
    return std::thread([title, button, &seen] {
        for (int i = 0; i < 200 && !seen.found; ++i) {
            HWND box = ::FindWindowW(L"#32770", title);
            if (box && ::IsWindowVisible(box)) {
                seen.found = true;
                seen.text = textOf(::GetDlgItem(box, 0xFFFF));
                for (HWND c = ::GetWindow(box, GW_CHILD); c; c = ::GetWindow(c, GW_HWNDNEXT))
                    // The box's template holds an icon control, hidden
                    // and empty when the box has no icon.
                    if ((::GetWindowLongW(c, GWL_STYLE) & SS_TYPEMASK) == SS_ICON &&
                        className(c) == L"Static" && ::IsWindowVisible(c) &&
                        ::SendMessageW(c, STM_GETICON, 0, 0) != 0)
                        seen.icon = true;
                ::PostMessageW(box, WM_COMMAND, button, 0);
                return;
            }
            ::Sleep(25);
        }
    });
}

TEST(Win32Dialogs, BoxesShowTheirTitleAndTextWithoutAnIcon) {
    win32::Dialogs d;
    BoxSeen seen;
    auto t = answer(L"First time", IDOK, seen);
    d.notice("First time", "Please select Source and Target directory...\r\nThen remove");
    t.join();
    EXPECT_TRUE(seen.found);
    EXPECT_EQ(seen.text, "Please select Source and Target directory...\r\nThen remove");
    EXPECT_FALSE(seen.icon);

    BoxSeen yes, no;
    auto ty = answer(L"Question", IDYES, yes);
    EXPECT_TRUE(d.ask("Question", "Include subdirectories?"));
    ty.join();
    EXPECT_TRUE(yes.found);
    EXPECT_FALSE(yes.icon);
    auto tn = answer(L"Question", IDNO, no);
    EXPECT_FALSE(d.ask("Question", "Include subdirectories?"));
    tn.join();
    EXPECT_EQ(no.text, "Include subdirectories?");

    // The check sees an icon where a box has one.
    BoxSeen withIcon;
    auto ti = answer(L"With icon", IDOK, withIcon);
    ::MessageBoxW(nullptr, L"x", L"With icon", MB_OK | MB_ICONINFORMATION);
    ti.join();
    EXPECT_TRUE(withIcon.icon);
}

TEST_F(WindowTest, ABoxOpensOverAWindowThatShowsTheModel) {
    win32::Dialogs d;
    d.setOwner(window->hwnd());
    d.setWindow(window.get());
    form->Text3.setText("C:\\asked");
    ASSERT_TRUE(window->redraw().pending());
    // As if the next frame were still far off.
    ::KillTimer(window->hwnd(), MainWindow::kRedraw);
    BoxSeen seen;
    std::string shown;
    HWND text3 = w("Text3");
    auto t = std::thread([&] {
        for (int i = 0; i < 200 && !seen.found; ++i) {
            HWND box = ::FindWindowW(L"#32770", L"Question");
            if (box && ::IsWindowVisible(box)) {
                seen.found = true;
                shown = textOf(text3);
                ::PostMessageW(box, WM_COMMAND, IDYES, 0);
                return;
            }
            ::Sleep(25);
        }
    });
    EXPECT_TRUE(d.ask("Question", "Copy?"));
    t.join();
    EXPECT_TRUE(seen.found);
    EXPECT_EQ(shown, "C:\\asked");
}

TEST(Win32Pump, AYieldRunsWaitingMessagesOnceAndKeepsTheQuit) {
    static int handled = 0;
    static win32::Pump* pump = nullptr;
    static int nested = 0;
    WNDCLASSW wc{};
    wc.lpszClassName = L"QmPumpTest";
    wc.lpfnWndProc = [](HWND h, UINT m, WPARAM wp, LPARAM lp) -> LRESULT {
        if (m == WM_APP) {
            ++handled;
            // A yield from a handler the yield runs returns at once.
            const int before = handled;
            pump->yield();
            if (handled != before) ++nested;
            return 0;
        }
        return ::DefWindowProcW(h, m, wp, lp);
    };
    ::RegisterClassW(&wc);
    HWND h =
        ::CreateWindowW(L"QmPumpTest", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    win32::Pump p;
    pump = &p;
    ::PostMessageW(h, WM_APP, 0, 0);
    ::PostMessageW(h, WM_APP, 0, 0);
    p.yield();
    EXPECT_EQ(handled, 2);
    EXPECT_EQ(nested, 0);
    ::PostQuitMessage(3);
    p.yield();
    MSG msg;
    ASSERT_TRUE(::PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 3u);
    ::DestroyWindow(h);
}

}  // namespace
}  // namespace qm::test
