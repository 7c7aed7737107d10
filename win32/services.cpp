#include "win32/services.h"

#include "win32/text.h"
#include "win32/window.h"

namespace qm::win32 {

void Dialogs::notice(const std::string& title, const std::string& text) {
    if (window_) window_->drawNow();
    ::MessageBoxW(owner_, wide(text).c_str(), wide(title).c_str(), MB_OK);
}

bool Dialogs::ask(const std::string& title, const std::string& text) {
    if (window_) window_->drawNow();
    return ::MessageBoxW(owner_, wide(text).c_str(), wide(title).c_str(), MB_YESNO) == IDYES;
}

void Pump::yield() {
    if (inside_) return;
    inside_ = true;
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            // The main loop must still see it.
            ::PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        if (window_ && window_->preTranslate(msg)) continue;
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    inside_ = false;
}

void Application::quit() {
    ::PostQuitMessage(0);
}

}  // namespace qm::win32
