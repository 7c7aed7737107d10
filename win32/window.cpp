#include "win32/window.h"

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>

#include "win32/resource.h"
#include "win32/text.h"
#include "win32/tray.h"

namespace qm::win32 {

namespace {

const wchar_t kClassName[] = L"QuillmereForm1";
constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

// Sets a window's text only when it differs, so that an unchanged field is
// not redrawn.
void setText(HWND w, const std::wstring& text) {
    const int n = ::GetWindowTextLengthW(w);
    std::wstring now(static_cast<std::size_t>(n) + 1, L'\0');
    ::GetWindowTextW(w, now.data(), n + 1);
    now.resize(static_cast<std::size_t>(n));
    if (now != text) ::SetWindowTextW(w, text.c_str());
}

// The shell's small folder icon; from shell32's icon resources (by id)
// where the stock icons are not offered.
HICON stockIcon(SHSTOCKICONID id, int shell32Id) {
    SHSTOCKICONINFO info{};
    info.cbSize = sizeof info;
    if (SUCCEEDED(::SHGetStockIconInfo(id, SHGSI_ICON | SHGSI_SMALLICON, &info)) && info.hIcon)
        return info.hIcon;
    HICON small = nullptr;
    if (::ExtractIconExW(L"shell32.dll", -shell32Id, nullptr, &small, 1) == 1) return small;
    return nullptr;
}

}  // namespace

// Makes the native control of each control and the menu entry of each menu
// item, in the window.
class MainWindow::Widgets final : public ui::WidgetMaker {
public:
    explicit Widgets(MainWindow& w) : w_(w) {}

    Draw make(ui::MenuItem& m) override {
        const UINT id = kFirstMenuId + static_cast<UINT>(w_.items_.size());
        w_.items_.push_back(&m);
        const std::wstring caption = wide(m.caption());
        if (m.parent().empty()) {
            if (m.name() == "rcpopup") {
                // Never on the menu bar: opened only as a popup.
                w_.menus_[m.name()] = w_.popup_;
            } else {
                HMENU sub = ::CreatePopupMenu();
                ::AppendMenuW(w_.menuBar_, MF_POPUP | MF_STRING, reinterpret_cast<UINT_PTR>(sub),
                              caption.c_str());
                w_.menus_[m.name()] = sub;
            }
            return {};
        }
        HMENU menu = w_.menus_.at(m.parent());
        ::AppendMenuW(menu, MF_STRING, id, caption.c_str());
        return [&m, menu, id] {
            ::CheckMenuItem(menu, id, MF_BYCOMMAND | (m.checked() ? MF_CHECKED : MF_UNCHECKED));
            ::EnableMenuItem(menu, id, MF_BYCOMMAND | (m.enabled() ? MF_ENABLED : MF_GRAYED));
        };
    }

    // Created in tab order: the order of creation is the tab order.
    Draw make(ui::Frame& f) override {
        w_.frames_.push_back(w_.create(f, WC_BUTTONW, BS_GROUPBOX, 0, wide(f.caption())));
        return {};
    }

    Draw make(ui::Button& b) override {
        HWND w = w_.create(b, WC_BUTTONW, BS_PUSHBUTTON | WS_TABSTOP, 0, wide(b.caption()));
        w_.commands_[::GetDlgCtrlID(w)] = [&adapter = w_.adapter_, &b](int code, HWND) {
            if (code == BN_CLICKED) adapter.press(b);
        };
        return {};
    }

    Draw make(ui::DriveList& d) override {
        HWND w = w_.create(d, WC_COMBOBOXW, CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, 0, {},
                           w_.px(1440 * 2));
        w_.commands_[::GetDlgCtrlID(w)] = [&adapter = w_.adapter_, &d](int code, HWND from) {
            if (code == CBN_DROPDOWN) {
                adapter.dropDown(d);
            } else if (code == CBN_SELCHANGE || code == CBN_SELENDOK) {
                // A click in the open list may close it (CBN_SELENDOK, then
                // CBN_CLOSEUP) before it tells of the new drive: the drive is
                // taken at the first word of it, or the close-up would draw the
                // old one back over the choice.
                adapter.choose(d, static_cast<int>(::SendMessageW(from, CB_GETCURSEL, 0, 0)));
            } else if (code == CBN_CLOSEUP) {
                // The model may have sprung back to another drive.
                adapter.touch(d);
            }
        };
        return [&d, w, shown = std::vector<std::string>()]() mutable {
            if (shown != d.drives()) {
                ::SendMessageW(w, CB_RESETCONTENT, 0, 0);
                for (const auto& drive : d.drives())
                    ::SendMessageW(w, CB_ADDSTRING, 0,
                                   reinterpret_cast<LPARAM>(wide(drive).c_str()));
                shown = d.drives();
            }
            int sel = -1;
            for (std::size_t i = 0; i < shown.size(); ++i)
                if (shown[i] == d.drive()) sel = static_cast<int>(i);
            if (::SendMessageW(w, CB_GETCURSEL, 0, 0) != sel)
                ::SendMessageW(w, CB_SETCURSEL, static_cast<WPARAM>(sel), 0);
        };
    }

    // A run moves the trees through every directory it visits; each is drawn at
    // the next frame, rebuilt only when its lines changed.
    Draw make(ui::DirectoryList& d) override {
        HWND w = w_.create(d, WC_LISTBOXW,
                           LBS_NOTIFY | LBS_OWNERDRAWFIXED | LBS_HASSTRINGS | LBS_NOINTEGRALHEIGHT |
                               WS_VSCROLL | WS_TABSTOP,
                           WS_EX_CLIENTEDGE);
        ::SendMessageW(w, LB_SETITEMHEIGHT, 0, w_.lineHeight_);
        const std::size_t i = w_.trees_.size();
        w_.trees_.push_back({&d, w, {}, {}, {}, -1});
        w_.commands_[::GetDlgCtrlID(w)] = [win = &w_, i](int code, HWND) {
            // Only opening a line changes the path; a highlighted line changes nothing.
            if (code == LBN_DBLCLK) win->openTreeLine(win->trees_[i]);
        };
        return [win = &w_, i] { win->syncTree(win->trees_[i]); };
    }

    // Display fields: the program writes them and never reads them.
    Draw make(ui::TextBox& x) override {
        const DWORD style = x.multiline()
                                ? ES_MULTILINE | ES_AUTOHSCROLL | ES_AUTOVSCROLL | WS_HSCROLL
                                : ES_AUTOHSCROLL;
        HWND w = w_.create(x, WC_EDITW, style | ES_READONLY | WS_TABSTOP, WS_EX_CLIENTEDGE);
        return [&x, w] { setText(w, wide(x.text())); };
    }

    Draw make(ui::Slider& s) override {
        HWND w = w_.create(s, TRACKBAR_CLASSW,
                           TBS_HORZ | TBS_BOTTOM | TBS_AUTOTICKS | TBS_FIXEDLENGTH | WS_TABSTOP);
        // A thumb short enough to leave room for the ticks below it.
        ::SendMessageW(w, TBM_SETTHUMBLENGTH, static_cast<WPARAM>(w_.px(372) * 3 / 5), 0);
        ::SendMessageW(w, TBM_SETRANGE, FALSE, MAKELPARAM(s.min(), s.max()));
        ::SendMessageW(w, TBM_SETTICFREQ, 5, 0);
        ::SendMessageW(w, TBM_SETPAGESIZE, 0, 5);
        w_.scrolls_[::GetDlgCtrlID(w)] = [&adapter = w_.adapter_, &s](int code, HWND from) {
            // A drag changes the position once, when the slider is let go.
            if (code != TB_THUMBTRACK)
                adapter.release(s, static_cast<int>(::SendMessageW(from, TBM_GETPOS, 0, 0)));
        };
        return [&s, w] {
            if (::SendMessageW(w, TBM_GETPOS, 0, 0) != s.value())
                ::SendMessageW(w, TBM_SETPOS, TRUE, s.value());
        };
    }

    Draw make(ui::Label& l) override {
        HWND w = w_.create(l, WC_STATICW, SS_LEFT | SS_NOPREFIX);
        return [&l, w] { setText(w, wide(l.caption())); };
    }

    Draw make(ui::ProgressBar& p) override {
        HWND w = w_.create(p, PROGRESS_CLASSW, 0);
        return [&p, w] {
            if (::SendMessageW(w, PBM_GETRANGE, TRUE, 0) != p.min() ||
                ::SendMessageW(w, PBM_GETRANGE, FALSE, 0) != p.max())
                ::SendMessageW(w, PBM_SETRANGE32, static_cast<WPARAM>(p.min()), p.max());
            if (::SendMessageW(w, PBM_GETPOS, 0, 0) != p.value())
                ::SendMessageW(w, PBM_SETPOS, static_cast<WPARAM>(p.value()), 0);
        };
    }

    Draw make(ui::CheckBox& k) override {
        HWND w = w_.create(k, WC_BUTTONW, BS_AUTOCHECKBOX | WS_TABSTOP, 0, wide(k.caption()));
        w_.commands_[::GetDlgCtrlID(w)] = [&adapter = w_.adapter_, &k](int code, HWND from) {
            if (code == BN_CLICKED)
                adapter.toggle(k, ::SendMessageW(from, BM_GETCHECK, 0, 0) == BST_CHECKED);
        };
        return [&k, w] {
            const WPARAM check = k.value() == 1 ? BST_CHECKED : BST_UNCHECKED;
            if (static_cast<WPARAM>(::SendMessageW(w, BM_GETCHECK, 0, 0)) != check)
                ::SendMessageW(w, BM_SETCHECK, check, 0);
        };
    }

    Draw make(ui::ListBox& l) override {
        HWND w =
            w_.create(l, WC_LISTBOXW, LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | WS_VSCROLL | WS_TABSTOP,
                      WS_EX_CLIENTEDGE);
        w_.commands_[::GetDlgCtrlID(w)] = [&adapter = w_.adapter_, &l](int code, HWND from) {
            if (code == LBN_SELCHANGE)
                adapter.select(l, static_cast<int>(::SendMessageW(from, LB_GETCURSEL, 0, 0)));
        };
        // Several clears and additions may come between two frames: the list
        // appends what is new when it still shows the start of the model's
        // items, and is filled again otherwise.
        return [&l, w, shown = std::vector<std::string>()]() mutable {
            const auto& items = l.items();
            const bool prefix = shown.size() <= items.size() &&
                                std::equal(shown.begin(), shown.end(), items.begin());
            if (!prefix) {
                ::SendMessageW(w, LB_RESETCONTENT, 0, 0);
                shown.clear();
            }
            for (std::size_t i = shown.size(); i < items.size(); ++i) {
                ::SendMessageW(w, LB_ADDSTRING, 0,
                               reinterpret_cast<LPARAM>(wide(items[i]).c_str()));
                shown.push_back(items[i]);
            }
            if (::SendMessageW(w, LB_GETCURSEL, 0, 0) != l.listIndex())
                ::SendMessageW(w, LB_SETCURSEL, static_cast<WPARAM>(l.listIndex()), 0);
        };
    }

private:
    MainWindow& w_;
};

MainWindow::MainWindow(ui::Form1& form, HINSTANCE instance, int dpi)
    : form_(form), instance_(instance) {
    HDC screen = ::GetDC(nullptr);
    dpi_ = dpi > 0 ? dpi : ::GetDeviceCaps(screen, LOGPIXELSY);
    ::ReleaseDC(nullptr, screen);
    if (dpi_ <= 0) dpi_ = 96;

    icon_ = static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(IDI_QUILLMERE), IMAGE_ICON,
                                            ::GetSystemMetrics(SM_CXICON),
                                            ::GetSystemMetrics(SM_CYICON), 0));
    smallIcon_ = static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(IDI_QUILLMERE),
                                                 IMAGE_ICON, ::GetSystemMetrics(SM_CXSMICON),
                                                 ::GetSystemMetrics(SM_CYSMICON), 0));
    folder_ = stockIcon(SIID_FOLDER, 4);
    folderOpen_ = stockIcon(SIID_FOLDEROPEN, 5);

    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = proc;
    wc.hInstance = instance;
    wc.hIcon = icon_;
    wc.hIconSm = smallIcon_;
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kClassName;
    ::RegisterClassExW(&wc);  // fails harmlessly when a second window registers it again

    // The layout is fixed in twips for an 8-point font.
    font_ = ::CreateFontW(-::MulDiv(8, dpi_, 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                          DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                          DEFAULT_PITCH | FF_DONTCARE, L"MS Shell Dlg 2");
    HDC dc = ::GetDC(nullptr);
    HGDIOBJ old = ::SelectObject(dc, font_);
    TEXTMETRICW tm{};
    ::GetTextMetricsW(dc, &tm);
    ::SelectObject(dc, old);
    ::ReleaseDC(nullptr, dc);
    lineHeight_ = std::max<int>(tm.tmHeight + 2, ::GetSystemMetrics(SM_CYSMICON) + 1);

    menuBar_ = ::CreateMenu();
    popup_ = ::CreatePopupMenu();
    Widgets widgets(*this);
    adapter_.makeMenus(widgets);
    RECT r{0, 0, px(ui::Form1::kClientWidth), px(ui::Form1::kClientHeight)};
    ::AdjustWindowRectEx(&r, kStyle, TRUE, 0);
    hwnd_ = ::CreateWindowExW(0, kClassName, wide(form.caption).c_str(), kStyle, CW_USEDEFAULT,
                              CW_USEDEFAULT, r.right - r.left, r.bottom - r.top, nullptr, menuBar_,
                              instance, this);
    // A menu bar that wraps takes client height; make the client area the
    // layout's whatever the menu's height.
    RECT client{};
    ::GetClientRect(hwnd_, &client);
    const int missing = px(ui::Form1::kClientHeight) - (client.bottom - client.top);
    if (missing != 0) {
        RECT w{};
        ::GetWindowRect(hwnd_, &w);
        ::SetWindowPos(hwnd_, nullptr, 0, 0, w.right - w.left, w.bottom - w.top + missing,
                       SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    adapter_.makeControls(widgets);
    // A frame is drawn beneath the controls it holds; frames take no part in
    // the tab order, so this leaves it as it is.
    for (HWND f : frames_)
        ::SetWindowPos(f, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    taskbarCreated_ = ::RegisterWindowMessageW(L"TaskbarCreated");
    adapter_.start();
}

MainWindow::~MainWindow() {
    if (hwnd_) {
        ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
        ::DestroyWindow(hwnd_);
    }
    if (popup_) ::DestroyMenu(popup_);
    if (font_) ::DeleteObject(font_);
    for (HICON i : {folder_, folderOpen_})
        if (i) ::DestroyIcon(i);
}

// A frame is due: a one-shot timer, killed when it fires.
void MainWindow::startFrameTimer(int ms) {
    if (hwnd_) ::SetTimer(hwnd_, kRedraw, static_cast<UINT>(ms), nullptr);
}

void MainWindow::stopFrameTimer() {
    if (hwnd_) ::KillTimer(hwnd_, kRedraw);
}

void MainWindow::startTicks(int ms) {
    ::SetTimer(hwnd_, kTimer1, static_cast<UINT>(ms), nullptr);
}

void MainWindow::stopTicks() {
    ::KillTimer(hwnd_, kTimer1);
}

void MainWindow::drawState(ui::Control& c) {
    HWND w = windows_.at(c.name());
    const bool enabled = ::IsWindowEnabled(w) != FALSE;
    if (enabled != c.enabled()) ::EnableWindow(w, c.enabled());
    const bool shown = (::GetWindowLongW(w, GWL_STYLE) & WS_VISIBLE) != 0;
    if (shown != c.visible()) ::ShowWindow(w, c.visible() ? SW_SHOWNA : SW_HIDE);
}

HWND MainWindow::controlWindow(const std::string& name) const {
    auto it = windows_.find(name);
    return it == windows_.end() ? nullptr : it->second;
}

UINT MainWindow::menuId(const std::string& item) const {
    for (std::size_t i = 0; i < items_.size(); ++i)
        if (items_[i]->name() == item) return kFirstMenuId + static_cast<UINT>(i);
    return 0;
}

HWND MainWindow::create(ui::Control& c, const wchar_t* cls, DWORD style, DWORD exStyle,
                        const std::wstring& text, int extraHeight) {
    // Every control is a child of the window; one in a frame sits at the
    // frame's place plus its own.
    int left = c.geometry().left, top = c.geometry().top;
    for (ui::Control* f : form_.controls())
        if (f->name() == c.container()) {
            left += f->geometry().left;
            top += f->geometry().top;
        }
    const int id = kFirstControlId + c.tabIndex();
    HWND w = ::CreateWindowExW(
        exStyle, cls, text.c_str(), WS_CHILD | WS_VISIBLE | style, px(left), px(top),
        px(c.geometry().width), px(c.geometry().height) + extraHeight, hwnd_,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance_, nullptr);
    ::SendMessageW(w, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    windows_[c.name()] = w;
    return w;
}

MainWindow::Tree* MainWindow::treeOf(HWND h) {
    for (Tree& t : trees_)
        if (t.hwnd == h) return &t;
    return nullptr;
}

void MainWindow::syncTree(Tree& t) {
    std::vector<std::string> paths;
    int open = -1;
    for (const auto& l : t.list->lines()) {
        if (l.open) open = static_cast<int>(paths.size());
        paths.push_back(l.path);
    }
    if (paths != t.shown) {
        ::SendMessageW(t.hwnd, WM_SETREDRAW, FALSE, 0);
        ::SendMessageW(t.hwnd, LB_RESETCONTENT, 0, 0);
        t.labels.clear();
        t.depths.clear();
        for (const auto& l : t.list->lines()) {
            t.labels.push_back(wide(l.label));
            t.depths.push_back(l.depth);
            const auto i = ::SendMessageW(t.hwnd, LB_ADDSTRING, 0,
                                          reinterpret_cast<LPARAM>(t.labels.back().c_str()));
            ::SendMessageW(t.hwnd, LB_SETITEMDATA, static_cast<WPARAM>(i),
                           static_cast<LPARAM>(l.depth));
        }
        ::SendMessageW(t.hwnd, WM_SETREDRAW, TRUE, 0);
        ::InvalidateRect(t.hwnd, nullptr, TRUE);
        t.shown = std::move(paths);
        t.open = open;
    } else if (open != t.open) {
        t.open = open;  // the folder glyphs change
        ::InvalidateRect(t.hwnd, nullptr, TRUE);
    }
    if (::SendMessageW(t.hwnd, LB_GETCURSEL, 0, 0) != open)
        ::SendMessageW(t.hwnd, LB_SETCURSEL, static_cast<WPARAM>(open), 0);
}

void MainWindow::openTreeLine(Tree& t) {
    const auto i = ::SendMessageW(t.hwnd, LB_GETCURSEL, 0, 0);
    if (i >= 0 && static_cast<std::size_t>(i) < t.shown.size())
        adapter_.open(*t.list, t.shown[static_cast<std::size_t>(i)]);
}

void MainWindow::drawTreeLine(const DRAWITEMSTRUCT& d) {
    Tree* t = treeOf(d.hwndItem);
    if (!t) return;
    const bool selected = (d.itemState & ODS_SELECTED) != 0;
    const bool enabled = ::IsWindowEnabled(d.hwndItem) != FALSE;
    ::FillRect(d.hDC, &d.rcItem,
               ::GetSysColorBrush(selected && enabled ? COLOR_HIGHLIGHT : COLOR_WINDOW));
    if (d.itemID == static_cast<UINT>(-1)) return;
    // Painted from what the last frame put into the list, which the model
    // may have left behind since.
    if (d.itemID >= t->labels.size()) return;
    const int icon = ::GetSystemMetrics(SM_CXSMICON);
    int x = d.rcItem.left + 2 + t->depths[d.itemID] * (icon / 2 + 2);
    HICON glyph = static_cast<int>(d.itemID) <= t->open ? folderOpen_ : folder_;
    if (glyph)
        ::DrawIconEx(d.hDC, x, d.rcItem.top + (d.rcItem.bottom - d.rcItem.top - icon) / 2, glyph,
                     icon, icon, 0, nullptr, DI_NORMAL);
    x += icon + 3;
    ::SetBkMode(d.hDC, TRANSPARENT);
    ::SetTextColor(d.hDC, ::GetSysColor(!enabled   ? COLOR_GRAYTEXT
                                        : selected ? COLOR_HIGHLIGHTTEXT
                                                   : COLOR_WINDOWTEXT));
    RECT r = d.rcItem;
    r.left = x;
    const std::wstring& label = t->labels[d.itemID];
    ::DrawTextW(d.hDC, label.c_str(), static_cast<int>(label.size()), &r,
                DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    if (d.itemState & ODS_FOCUS) ::DrawFocusRect(d.hDC, &d.rcItem);
}

bool MainWindow::menuCommand(UINT id) {
    if (id < kFirstMenuId || id >= kFirstMenuId + items_.size()) return false;
    adapter_.choose(*items_[id - kFirstMenuId]);
    return true;
}

void MainWindow::command(int id, int code, HWND from) {
    if (id == IDOK && !from) {
        // Enter: opens the highlighted line of a directory list that has
        // the focus, and does nothing elsewhere.
        if (Tree* t = treeOf(::GetFocus())) openTreeLine(*t);
        return;
    }
    auto it = commands_.find(id);
    if (it != commands_.end()) it->second(code, from);
}

void MainWindow::drawPointer(ui::MousePointer pointer) {
    POINT p{};
    ::GetCursorPos(&p);
    if (::WindowFromPoint(p) && ::GetAncestor(::WindowFromPoint(p), GA_ROOT) == hwnd_)
        ::SetCursor(
            ::LoadCursorW(nullptr, pointer == ui::MousePointer::Hourglass ? IDC_WAIT : IDC_ARROW));
}

void MainWindow::showWindow(bool minimized) {
    ::ShowWindow(hwnd_, minimized ? SW_SHOWMINIMIZED : SW_SHOW);
    ::UpdateWindow(hwnd_);
}

void MainWindow::restoreWindow() {
    if (::IsIconic(hwnd_)) ::ShowWindow(hwnd_, SW_RESTORE);
}

bool MainWindow::preTranslate(MSG& msg) {
    if (!hwnd_ || !::IsWindowVisible(hwnd_)) return false;
    if (msg.hwnd != hwnd_ && !::IsChild(hwnd_, msg.hwnd)) return false;
    return ::IsDialogMessageW(hwnd_, &msg) != FALSE;
}

int MainWindow::run() {
    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (preTranslate(msg)) continue;
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    return msg.message == WM_QUIT ? static_cast<int>(msg.wParam) : 0;
}

LRESULT CALLBACK MainWindow::proc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NCCREATE) {
        auto* cs = reinterpret_cast<CREATESTRUCTW*>(lp);
        auto* self = static_cast<MainWindow*>(cs->lpCreateParams);
        self->hwnd_ = h;
        ::SetWindowLongPtrW(h, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<MainWindow*>(::GetWindowLongPtrW(h, GWLP_USERDATA));
    if (!self) return ::DefWindowProcW(h, msg, wp, lp);
    return self->handle(msg, wp, lp);
}

LRESULT MainWindow::handle(UINT msg, WPARAM wp, LPARAM lp) {
    // The icon's mouse messages come as the tray's callback message with
    // the icon's id; only the right button's press opens rcpopup.
    if (tray_ && tray_->isIconMessage(msg, wp)) {
        if (NotifyIcon::isRightPress(lp)) {
            form_.SysTrayMouseEventHandler();
            drawNow();
        }
        return 0;
    }
    if (msg == taskbarCreated_ && taskbarCreated_ != 0) {
        // A new notification area (the shell restarted) starts empty.
        if (tray_) tray_->addAgain();
        return 0;
    }
    switch (msg) {
        case WM_COMMAND:
            if (HIWORD(wp) == 0 && lp == 0 && menuCommand(LOWORD(wp))) return 0;
            command(LOWORD(wp), HIWORD(wp), reinterpret_cast<HWND>(lp));
            // The user's action is drawn at once, whatever the frame rate.
            drawNow();
            return 0;
        case WM_HSCROLL:
            if (lp) {
                HWND w = reinterpret_cast<HWND>(lp);
                auto it = scrolls_.find(::GetDlgCtrlID(w));
                if (it != scrolls_.end()) it->second(LOWORD(wp), w);
            }
            return 0;
        case WM_TIMER:
            if (wp == kTimer1)
                adapter_.tick();
            else if (wp == kRedraw)
                adapter_.frameDue();  // one-shot: the next frame sets it again
            return 0;
        case WM_MEASUREITEM: {
            auto* m = reinterpret_cast<MEASUREITEMSTRUCT*>(lp);
            m->itemHeight = static_cast<UINT>(lineHeight_);
            return TRUE;
        }
        case WM_DRAWITEM:
            drawTreeLine(*reinterpret_cast<DRAWITEMSTRUCT*>(lp));
            return TRUE;
        case WM_SETCURSOR:
            if (form_.mousePointer() == ui::MousePointer::Hourglass) {
                ::SetCursor(::LoadCursorW(nullptr, IDC_WAIT));
                return TRUE;
            }
            break;
        case WM_SIZE:
            // Restored by the user after it was minimised in place of hidden.
            if (wp == SIZE_RESTORED) adapter_.restored();
            break;
        case WM_ENDSESSION:
            // The session ends: the process is ended once this returns, so
            // the program ends here, its icon taken away.
            if (wp && !form_.ended()) form_.Form_Unload();
            return 0;
        case WM_CLOSE:
            adapter_.close();
            return 0;
        default:
            break;
    }
    return ::DefWindowProcW(hwnd_, msg, wp, lp);
}

}  // namespace qm::win32
