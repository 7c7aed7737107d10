// How a second start from the program's folder reaches the first: a
// message-only window whose class is named by the folder's key. The second
// finds it, lets it take the foreground, and sends it kShow; the first shows
// its window and answers 1.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace qm::win32 {

class InstanceWindow {
public:
    static constexpr UINT kShow = WM_APP + 1;

    InstanceWindow(const std::string& key, HINSTANCE instance, std::function<void()> show);
    ~InstanceWindow();
    InstanceWindow(const InstanceWindow&) = delete;
    InstanceWindow& operator=(const InstanceWindow&) = delete;
    HWND hwnd() const { return hwnd_; }

private:
    static LRESULT CALLBACK proc(HWND, UINT, WPARAM, LPARAM);

    std::wstring class_;
    HINSTANCE instance_;
    HWND hwnd_ = nullptr;
    std::function<void()> show_;
};

// Asks the instance of the folder whose key it is to show its window: true
// once it answered that it did; false when there is none or it did not
// answer within timeoutMs.
bool wakeInstance(const std::string& key, unsigned timeoutMs = 2000);

}  // namespace qm::win32
