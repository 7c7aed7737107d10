// The real window on Qt's offscreen platform: Form1 with scripted services,
// its MainWindow, and a program directory of the test's own.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QString>
#include <memory>
#include <ostream>
#include <string>

#include "support/fakes.h"
#include "support/tempdir.h"
#include "ui/form1.h"
#include "view/application.h"
#include "view/mainwindow.h"

// Readable failures.
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

namespace qm::test {

// One application per test program, on the offscreen platform, prepared as
// the program prepares its own.
inline QApplication& qt_app() {
    static int argc = 1;
    static char name[] = "widget_tests";
    static char* argv[] = {name, nullptr};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Never destroyed: Qt's own statics go first at exit.
    static QApplication* app = [] {
        auto* a = new QApplication(argc, argv);
        view::prepare(*a);
        return a;
    }();
    return *app;
}

// The real Os with the program directory moved, and, when asked, one more
// volume mounted at a test directory.
class VolumesOs : public ProgramDirOs {
public:
    using ProgramDirOs::ProgramDirOs;
    std::vector<std::string> volumes() override {
        auto v = ProgramDirOs::volumes();
        if (!extra.empty()) v.push_back(extra);
        return v;
    }
    std::string volume_of(const std::string& path) override {
        if (!extra.empty() && path.starts_with(extra)) return extra;
        return ProgramDirOs::volume_of(path);
    }
    std::string volume_root(const std::string& volume) override {
        return volume == extra ? extra : ProgramDirOs::volume_root(volume);
    }
    bool volume_ready(const std::string& volume) override {
        if (volume == extra) return extraReady;
        return ProgramDirOs::volume_ready(volume);
    }
    std::string extra;
    bool extraReady = true;
};

class WindowTest : public ::testing::Test {
protected:
    WindowTest() : prog_os(prog.path()), use(prog_os) { qt_app(); }

    // Writes BATCH.INI with source/target pairs (Subs:YES), or leaves the
    // directory empty for a first start when batch is empty.
    void batch(const std::vector<std::pair<std::string, std::string>>& pairs) {
        std::string s = "[batch]\r\n";
        for (const auto& [src, dst] : pairs)
            s += "Source:" + src + "\r\nTarget:" + dst + "\r\nSubs:YES\r\n";
        write(prog / "BATCH.INI", s);
    }

    // Form1 loaded as the program loads it, drawn at dpi (0: the screen's)
    // and shown.
    view::MainWindow& open(int dpi = 0, ui::Tray* tray = nullptr) {
        ui::Services s;
        s.dialogs = &dialogs;
        s.pump = &pump;
        s.sleeper = &sleeper;
        s.clock = &clock;
        s.app = &app;
        s.tray = tray;
        window.reset();
        form = std::make_unique<ui::Form1>(s);
        window = std::make_unique<view::MainWindow>(*form, dpi);
        form->Form_Load();
        form->setVisible(true);
        QApplication::processEvents();
        return *window;
    }

    template <class W>
    W* widget(const std::string& name) {
        auto* w = qobject_cast<W*>(window->widgetOf(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }

    TempDir prog;
    VolumesOs prog_os;
    os::ScopedOs use;
    FakeDialogs dialogs;
    FakePump pump;
    FakeSleeper sleeper;
    FakeClock clock;
    FakeApp app;
    std::unique_ptr<ui::Form1> form;
    std::unique_ptr<view::MainWindow> window;

    ~WindowTest() override {
        window.reset();
        form.reset();
    }
};

}  // namespace qm::test
