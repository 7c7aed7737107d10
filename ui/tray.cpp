// Hiding and showing the window, and the notification-area icon as the
// window sees it.
#include <cstdio>

#include "engine/engine.h"
#include "qm_version.h"
#include "ui/form1.h"

namespace qm::ui {

void Form1::Command3_Click() {
    if (services_.tray && services_.tray->available()) {
        setVisible(false);
        return;
    }
    // Hidden without an icon, the window could never be brought back. The
    // word comes first: a box over a minimised window may go down with it.
    if (!toldNoTray_) {
        toldNoTray_ = true;
        notice("Information",
               "No notification area is available, so the window cannot be hidden.\r\n"
               "It will be minimised instead.");
    }
    setMinimized(true);
}

void Form1::mShow_Click() {
    setMinimized(false);
    setVisible(true);
}

void Form1::SysTraySetup() {
    if (services_.tray) (void)services_.tray->add("Quillmere v" QM_VERSION_STRING);
}

void Form1::SysTrayMouseEventHandler() {
    if (services_.tray) services_.tray->popup();
}

namespace {
// The longest tip a notification area is sure to show whole.
constexpr std::size_t kTipMax = 127;
// The failures the tip names, at most.
constexpr std::size_t kTipFailures = 3;

std::string clockTime(const os::LocalTime& t) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d:%02d", t.hour, t.minute);
    return buf;
}

// The tail of text in at most room bytes, after "...", never starting in
// the middle of a character: the end of a path names the file.
std::string tail(const std::string& text, std::size_t room) {
    if (text.size() <= room) return text;
    if (room <= 3) return {};
    std::size_t from = text.size() - (room - 3);
    while (from < text.size() && (static_cast<unsigned char>(text[from]) & 0xC0) == 0x80) ++from;
    return "..." + text.substr(from);
}
}  // namespace

void Form1::failed(const engine::Failure& failure) {
    runFailures_.push_back(failure);
}

std::string Form1::trayTip() const {
    std::string tip = "Quillmere v" QM_VERSION_STRING;
    if (!ranOnce_) return tip;
    tip +=
        "\nLast run " + clockTime(lastRun_) + ": " + std::to_string(lastCopied_) + " copied/moved";
    if (!lastFailures_.empty()) tip += ", " + std::to_string(lastFailures_.size()) + " failed";
    for (std::size_t i = 0; i < lastFailures_.size() && i < kTipFailures; ++i) {
        const auto& f = lastFailures_[i];
        const std::string head = std::string("\n") + engine::outcome_words(f.outcome) + ": ";
        if (tip.size() + head.size() + 8 > kTipMax) break;
        tip += head + tail(f.path.empty() ? f.text : f.path, kTipMax - tip.size() - head.size());
    }
    return tip;
}

void Form1::tellRun() {
    lastFailures_ = std::move(runFailures_);
    runFailures_.clear();
    lastRun_ = now();
    lastCopied_ = engine_->copiedInRun();
    ranOnce_ = true;
    Tray* tray = services_.tray;
    if (tray) tray->setTip(trayTip());
    if (lastFailures_.empty()) return;
    if (tray && tray->available()) {
        const std::size_t n = lastFailures_.size();
        tray->notify("Quillmere: " + std::to_string(n) + (n == 1 ? " failure" : " failures") +
                         " in the run at " + clockTime(lastRun_),
                     lastFailures_.front().text +
                         (n > 1 ? "\n(and " + std::to_string(n - 1) + " more)" : ""));
        return;
    }
    // Nothing else would tell it: the window comes up, as Show Interface
    // brings it.
    mShow_Click();
}

}  // namespace qm::ui
