// The services Form1 takes, made with Qt: message boxes, the event pump and
// the end of the program.
#pragma once

#include <QWidget>
#include <chrono>

#include "ui/services.h"

namespace qm::view {

class QtDialogs : public ui::Dialogs {
public:
    explicit QtDialogs(QWidget* parent = nullptr) : parent_(parent) {}
    void setParent(QWidget* parent) { parent_ = parent; }
    void notice(const std::string& title, const std::string& text) override;
    bool ask(const std::string& title, const std::string& text) override;

private:
    QWidget* parent_;
};

// The engine yields after every file it copies, which may be every few
// microseconds; handling the event queue costs far more than that. Pending
// events are handled when the last handling is kEvery ago, so they wait a
// few milliseconds at most, and the copying goes on at full speed.
class QtPump : public ui::EventPump {
public:
    static constexpr std::chrono::milliseconds kEvery{5};
    void yield() override;
    // Handles pending events now.
    void yieldNow();

private:
    std::chrono::steady_clock::time_point last_{};
};

class QtApplication : public ui::Application {
public:
    void quit() override;
};

}  // namespace qm::view
