// The services Form1 takes, made with the Win32 API: message boxes, the
// event pump and the end of the program.
#pragma once

#include <windows.h>

#include "ui/services.h"

namespace qm::win32 {

class MainWindow;

// MessageBoxW without an icon: OK alone, or Yes and No.
class Dialogs : public ui::Dialogs {
public:
    void setOwner(HWND owner) { owner_ = owner; }
    // The window drawn before each box, so that the box asks about what it
    // shows.
    void setWindow(MainWindow* window) { window_ = window; }
    void notice(const std::string& title, const std::string& text) override;
    bool ask(const std::string& title, const std::string& text) override;

private:
    HWND owner_ = nullptr;
    MainWindow* window_ = nullptr;
};

// Runs the messages that are waiting, then returns. A yield inside a yield
// returns at once, so no handler it runs can start a second pass.
class Pump : public ui::EventPump {
public:
    void setWindow(MainWindow* window) { window_ = window; }
    void yield() override;

private:
    MainWindow* window_ = nullptr;
    bool inside_ = false;
};

// Ends the message loop.
class Application : public ui::Application {
public:
    void quit() override;
};

}  // namespace qm::win32
