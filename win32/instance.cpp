#include "win32/instance.h"

#include "win32/text.h"

namespace qm::win32 {

namespace {

std::wstring classFor(const std::string& key) {
    return L"QuillmereInstance-" + wide(key);
}

}  // namespace

InstanceWindow::InstanceWindow(const std::string& key, HINSTANCE instance,
                               std::function<void()> show)
    : class_(classFor(key)), instance_(instance), show_(std::move(show)) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = proc;
    wc.hInstance = instance;
    wc.lpszClassName = class_.c_str();
    ::RegisterClassExW(&wc);
    hwnd_ = ::CreateWindowExW(0, class_.c_str(), L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              instance, this);
}

InstanceWindow::~InstanceWindow() {
    if (hwnd_) {
        ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
        ::DestroyWindow(hwnd_);
    }
    ::UnregisterClassW(class_.c_str(), instance_);
}

LRESULT CALLBACK InstanceWindow::proc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NCCREATE) {
        auto* cs = reinterpret_cast<CREATESTRUCTW*>(lp);
        ::SetWindowLongPtrW(h, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
    }
    auto* self = reinterpret_cast<InstanceWindow*>(::GetWindowLongPtrW(h, GWLP_USERDATA));
    if (self && msg == kShow) {
        self->show_();
        return 1;
    }
    return ::DefWindowProcW(h, msg, wp, lp);
}

bool wakeInstance(const std::string& key, unsigned timeoutMs) {
    HWND w = ::FindWindowExW(HWND_MESSAGE, nullptr, classFor(key).c_str(), nullptr);
    if (!w) return false;
    // The user just started this process, so it may give the foreground
    // away; the first instance may not take it by itself.
    DWORD pid = 0;
    ::GetWindowThreadProcessId(w, &pid);
    if (pid) ::AllowSetForegroundWindow(pid);
    DWORD_PTR answer = 0;
    if (!::SendMessageTimeoutW(w, InstanceWindow::kShow, 0, 0, SMTO_ABORTIFHUNG, timeoutMs,
                               &answer))
        return false;
    return answer == 1;
}

}  // namespace qm::win32
