#include "win32/tray.h"

#include <shellapi.h>

#include "win32/text.h"

namespace qm::win32 {

// The icon, as Shell_NotifyIconW names it, with the fields flags say are set.
NOTIFYICONDATAW NotifyIcon::about(UINT flags) const {
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof data;
    data.hWnd = window_;
    data.uID = kId;
    data.uFlags = flags;
    return data;
}

void NotifyIcon::attach(HWND window, HICON icon, HMENU menu, std::function<void(UINT)> choose) {
    window_ = window;
    icon_ = icon;
    menu_ = menu;
    choose_ = std::move(choose);
}

bool NotifyIcon::add(const std::string& tip) {
    tip_ = wide(tip);
    wanted_ = true;
    addAgain();
    return added_;
}

void NotifyIcon::addAgain() {
    if (!wanted_ || !window_) return;
    NOTIFYICONDATAW data = about(NIF_MESSAGE | NIF_ICON | NIF_TIP);
    data.uCallbackMessage = kCallbackMessage;
    data.hIcon = icon_;
    lstrcpynW(data.szTip, tip_.c_str(), static_cast<int>(std::size(data.szTip)));
    added_ = ::Shell_NotifyIconW(NIM_ADD, &data) != FALSE;
}

void NotifyIcon::setTip(const std::string& tip) {
    tip_ = wide(tip);
    if (!added_) return;  // the icon takes it when it is added
    NOTIFYICONDATAW data = about(NIF_TIP);
    lstrcpynW(data.szTip, tip_.c_str(), static_cast<int>(std::size(data.szTip)));
    ::Shell_NotifyIconW(NIM_MODIFY, &data);
}

void NotifyIcon::notify(const std::string& title, const std::string& text) {
    if (!added_) return;
    // The balloon of the icon; longer texts are cut at the fields' size.
    NOTIFYICONDATAW data = about(NIF_INFO);
    data.dwInfoFlags = NIIF_WARNING;
    lstrcpynW(data.szInfoTitle, wide(title).c_str(), static_cast<int>(std::size(data.szInfoTitle)));
    lstrcpynW(data.szInfo, wide(text).c_str(), static_cast<int>(std::size(data.szInfo)));
    ::Shell_NotifyIconW(NIM_MODIFY, &data);
}

void NotifyIcon::remove() {
    wanted_ = false;
    if (!added_) return;
    NOTIFYICONDATAW data = about(0);
    ::Shell_NotifyIconW(NIM_DELETE, &data);
    added_ = false;
}

void NotifyIcon::popup() {
    if (!window_ || !menu_) return;
    ::SetForegroundWindow(window_);
    POINT p{};
    ::GetCursorPos(&p);
    // The item is run before this returns, as the menu's own command.
    const UINT chosen = static_cast<UINT>(::TrackPopupMenu(
        menu_, TPM_RIGHTBUTTON | TPM_RETURNCMD | TPM_NONOTIFY, p.x, p.y, 0, window_, nullptr));
    // Lets the menu close properly when the user clicks elsewhere next.
    ::PostMessageW(window_, WM_NULL, 0, 0);
    if (chosen != 0 && choose_) choose_(chosen);
}

}  // namespace qm::win32
