// The Win32 window that draws Form1 with native controls and feeds the
// user's actions into it.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "ui/form1.h"
#include "ui/redraw.h"
#include "ui/viewadapter.h"

namespace qm::win32 {

class NotifyIcon;

class MainWindow : private ui::ViewToolkit {
public:
    static constexpr int kFirstControlId = 100;  // + the control's tab index
    static constexpr UINT kFirstMenuId = 1000;   // + the item's place among Form1's menu items
    static constexpr UINT_PTR kTimer1 = 1;
    static constexpr UINT_PTR kRedraw = 2;  // the one-shot timer of the next frame

    // dpi: the DPI that converts twips to pixels; 0 takes the screen's.
    MainWindow(ui::Form1& form, HINSTANCE instance, int dpi = 0);
    ~MainWindow();
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    HWND hwnd() const { return hwnd_; }
    int dpi() const { return dpi_; }
    // Twips to pixels.
    int px(int twips) const { return MulDiv(twips, dpi_, 1440); }
    // The window that draws a control; null for the never-shown file lists.
    HWND controlWindow(const std::string& name) const;
    HMENU menuBar() const { return menuBar_; }
    // rcpopup: never on the menu bar.
    HMENU popupMenu() const { return popup_; }
    UINT menuId(const std::string& item) const;
    HICON icon(bool small) const { return small ? smallIcon_ : icon_; }

    // The notification-area icon whose messages the window receives.
    void setTray(NotifyIcon* tray) { tray_ = tray; }
    // Chooses a menu item by its command id; false for an unknown id.
    bool menuCommand(UINT id);
    // Keyboard navigation (tab order, access keys, Enter): true when msg
    // was handled and must not be dispatched.
    bool preTranslate(MSG& msg);
    // The message loop until the program ends; returns its exit code.
    int run();
    // Draws what changed at once, so that the window shows the model.
    void drawNow() { adapter_.drawNow(); }
    const ui::Redraw& redraw() const { return adapter_.redraw(); }

private:
    struct Tree {
        ui::DirectoryList* list = nullptr;
        HWND hwnd = nullptr;
        std::vector<std::string> shown;    // the paths of its lines
        std::vector<std::wstring> labels;  // and what they read
        std::vector<int> depths;
        int open = -1;
    };

    // What a control does with a notification (its code) from its window.
    using Handler = std::function<void(int code, HWND from)>;

    static LRESULT CALLBACK proc(HWND, UINT, WPARAM, LPARAM);
    LRESULT handle(UINT msg, WPARAM wp, LPARAM lp);
    HWND create(ui::Control& c, const wchar_t* cls, DWORD style, DWORD exStyle = 0,
                const std::wstring& text = {}, int extraHeight = 0);
    void command(int id, int code, HWND from);
    void syncTree(Tree& t);
    void openTreeLine(Tree& t);
    void drawTreeLine(const DRAWITEMSTRUCT& d);
    Tree* treeOf(HWND h);

    class Widgets;

    // ui::ViewToolkit
    void drawState(ui::Control& c) override;
    void drawPointer(ui::MousePointer p) override;
    void hideWindow() override { ::ShowWindow(hwnd_, SW_HIDE); }
    void showWindow(bool minimized) override;
    void minimizeWindow() override { ::ShowWindow(hwnd_, SW_MINIMIZE); }
    void restoreWindow() override;
    void endWindow() override {}  // the message loop ends; nothing more to show
    void startFrameTimer(int ms) override;
    void stopFrameTimer() override;
    void startTicks(int ms) override;
    void stopTicks() override;

    ui::Form1& form_;
    HINSTANCE instance_;
    HWND hwnd_ = nullptr;
    HFONT font_ = nullptr;
    HICON icon_ = nullptr;
    HICON smallIcon_ = nullptr;
    HICON folder_ = nullptr;
    HICON folderOpen_ = nullptr;
    HMENU menuBar_ = nullptr;
    HMENU popup_ = nullptr;
    int dpi_ = 96;
    int lineHeight_ = 16;
    UINT taskbarCreated_ = 0;
    NotifyIcon* tray_ = nullptr;
    std::map<std::string, HWND> windows_;
    std::vector<HWND> frames_;
    // By control id: WM_COMMAND's notifications, and the sliders' WM_HSCROLL.
    std::map<int, Handler> commands_, scrolls_;
    std::vector<ui::MenuItem*> items_;
    std::map<std::string, HMENU> menus_;
    std::vector<Tree> trees_;
    ui::ViewAdapter adapter_{form_, *this};
};

}  // namespace qm::win32
