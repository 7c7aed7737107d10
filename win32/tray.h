// The notification-area icon with Shell_NotifyIconW. Its mouse messages
// arrive at the main window as the callback message; the window hands them
// back here to be told apart.
#pragma once

#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <functional>
#include <string>

#include "ui/services.h"

namespace qm::win32 {

class NotifyIcon : public ui::Tray {
public:
    // The icon's mouse events come as WM_RBUTTONUP with the icon's id in
    // wParam and the mouse message in lParam.
    static constexpr UINT kCallbackMessage = WM_RBUTTONUP;
    static constexpr UINT kId = 1;

    // window receives the callback messages and is brought to the
    // foreground before menu (rcpopup) opens; a chosen item's command id
    // goes to choose.
    void attach(HWND window, HICON icon, HMENU menu, std::function<void(UINT)> choose);

    bool add(const std::string& tip) override;
    bool available() override { return added_; }
    void popup() override;
    void setTip(const std::string& tip) override;
    void notify(const std::string& title, const std::string& text) override;
    void remove() override;
    ~NotifyIcon() override { remove(); }

    // Adds the icon once more, to a notification area that started afresh.
    void addAgain();
    // A message of this icon, as opposed to a mouse message of the window.
    bool isIconMessage(UINT msg, WPARAM wp) const {
        return msg == kCallbackMessage && wp == kId && window_;
    }
    static bool isRightPress(LPARAM lp) { return LOWORD(lp) == WM_RBUTTONDOWN; }

private:
    NOTIFYICONDATAW about(UINT flags) const;

    HWND window_ = nullptr;
    HICON icon_ = nullptr;
    HMENU menu_ = nullptr;
    std::function<void(UINT)> choose_;
    std::wstring tip_;
    bool wanted_ = false;
    bool added_ = false;
};

}  // namespace qm::win32
