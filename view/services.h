// The services Form1 takes, made with Qt: message boxes, the event pump and
// the end of the program.
#pragma once

#include <QWidget>

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

class QtPump : public ui::EventPump {
public:
    void yield() override;
};

class QtApplication : public ui::Application {
public:
    void quit() override;
};

}  // namespace qm::view
