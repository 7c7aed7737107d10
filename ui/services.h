// The services Form1 takes from the program around it. A view implements
// them with its toolkit; tests script them.
#pragma once

#include <string>

#include "platform/platform.h"

namespace qm::ui {

// Modal message boxes without an icon.
class Dialogs {
public:
    virtual ~Dialogs() = default;
    // OK button only.
    virtual void notice(const std::string& title, const std::string& text) = 0;
    // Yes and No; true for Yes.
    virtual bool ask(const std::string& title, const std::string& text) = 0;
};

// Lets pending window events run in the middle of long work.
class EventPump {
public:
    virtual ~EventPump() = default;
    virtual void yield() = 0;
};

class Sleeper {
public:
    virtual ~Sleeper() = default;
    virtual void sleep_ms(unsigned ms) = 0;
};

class Clock {
public:
    virtual ~Clock() = default;
    virtual os::LocalTime now() = 0;
};

// The notification-area icon, as Form1 sees it.
class Tray {
public:
    virtual ~Tray() = default;
    // Adds the icon with its tip; false when no notification area took it.
    virtual bool add(const std::string& tip) = 0;
    // Whether the icon is shown in a notification area now.
    virtual bool available() = 0;
    // Brings the window to the foreground and opens the popup menu rcpopup
    // at the pointer; returns when the menu is closed.
    virtual void popup() = 0;
    // Replaces the icon's tip (lines apart by "\n"; at most 127 bytes).
    virtual void setTip(const std::string& tip) = 0;
    // A notification from the icon, shown for a while by the notification
    // area, whatever the window is doing.
    virtual void notify(const std::string& title, const std::string& text) = 0;
    // Takes the icon out of the notification area for good: the program
    // ends, and an icon left there would stay until the pointer passes.
    virtual void remove() = 0;
};

// Ends the program (the application's event loop).
class Application {
public:
    virtual ~Application() = default;
    virtual void quit() = 0;
};

struct Services {
    Dialogs* dialogs = nullptr;
    EventPump* pump = nullptr;
    Sleeper* sleeper = nullptr;  // the platform's sleep when null
    Clock* clock = nullptr;      // the platform's clock when null
    Tray* tray = nullptr;        // no icon when null
    Application* app = nullptr;
};

}  // namespace qm::ui
