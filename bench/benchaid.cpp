#include "bench/benchaid.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "bench/peak.h"
#include "platform/platform.h"
#include "ui/form1.h"
#include "view/mainwindow.h"

namespace qm::bench {

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

struct PauseSleeper : ui::Sleeper {
    std::vector<std::pair<Clock::time_point, Clock::time_point>> pauses;
    void sleep_ms(unsigned ms) override {
        const auto a = Clock::now();
        os::current().sleep_ms(ms);
        pauses.emplace_back(a, Clock::now());
    }
};

// Tells when the window was first exposed.
class ExposeWatch : public QObject {
public:
    std::function<void()> onExposed;
    bool eventFilter(QObject* o, QEvent* e) override {
        if (e->type() == QEvent::Expose && onExposed) {
            auto* w = static_cast<QWindow*>(o);
            if (w->isExposed()) std::exchange(onExposed, nullptr)();
        }
        return false;
    }
};

}  // namespace

struct BenchAid::State {
    Clock::time_point started = Clock::now();
    std::FILE* out = nullptr;
    PauseSleeper sleeper;
    ExposeWatch expose;
    QTimer probe;
    Clock::time_point lastProbe;
    std::vector<double> lateness;  // ms, outside the pauses
    std::vector<double> pausedLateness;
    Clock::time_point runStart;
    std::clock_t cpuStart = 0;
    bool inRun = false;
    long idleKib = 0;
    long framesBefore = 0, drawsBefore = 0;

    void line(const std::string& s) {
        std::fprintf(out, "%s\n", s.c_str());
        std::fflush(out);
    }
    bool overlapsPause(Clock::time_point a, Clock::time_point b) const {
        for (const auto& [p, q] : sleeper.pauses)
            if (p < b && q > a) return true;
        return false;
    }
};

BenchAid::BenchAid() {
    const char* file = std::getenv("QUILLMERE_TIMINGS");
    if (!file) return;
    s_ = std::make_unique<State>();
    s_->out = std::fopen(file, "a");
}

BenchAid::~BenchAid() {
    if (s_ && s_->out) std::fclose(s_->out);
}

void BenchAid::prepare(ui::Services& services) {
    if (s_ && s_->out) services.sleeper = &s_->sleeper;
}

void BenchAid::attach(ui::Form1& form, view::MainWindow& window) {
    if (!s_ || !s_->out) return;
    State& s = *s_;

    window.winId();  // makes the native window, to watch its exposure
    window.windowHandle()->installEventFilter(&s.expose);
    s.expose.onExposed = [&s] {
        const auto wall = std::chrono::system_clock::now().time_since_epoch();
        s.line("exposed-epoch-ns " +
               std::to_string(std::chrono::duration_cast<std::chrono::nanoseconds>(wall).count()));
        s.line("exposed-after-main-s " + std::to_string(seconds(Clock::now() - s.started)));
    };

    s.probe.setTimerType(Qt::PreciseTimer);
    s.probe.setInterval(10);
    QObject::connect(&s.probe, &QTimer::timeout, &s.probe, [&s] {
        const auto now = Clock::now();
        const double late =
            std::chrono::duration<double, std::milli>(now - s.lastProbe).count() - 10.0;
        (s.overlapsPause(s.lastProbe, now) ? s.pausedLateness : s.lateness)
            .push_back(std::max(0.0, late));
        s.lastProbe = now;
    });

    // The run shows "BUSY..." from its start until the tick that ran it
    // writes the countdown again.
    form.Label1.changed.connect([&s, &form, &window] {
        const bool busy = form.Label1.caption() == "BUSY...";
        if (busy && !s.inRun) {
            s.inRun = true;
            s.idleKib = peak_kib();
            s.framesBefore = window.redraw().frames();
            s.drawsBefore = window.redraw().draws();
            s.sleeper.pauses.clear();
            s.lateness.clear();
            s.pausedLateness.clear();
            s.runStart = s.lastProbe = Clock::now();
            s.cpuStart = std::clock();
            s.probe.start();
        } else if (!busy && s.inRun) {
            const double total = seconds(Clock::now() - s.runStart);
            const double cpu = static_cast<double>(std::clock() - s.cpuStart) / CLOCKS_PER_SEC;
            s.inRun = false;
            s.probe.stop();
            double paused = 0;
            for (const auto& [a, b] : s.sleeper.pauses) paused += seconds(b - a);
            s.line("run-s " + std::to_string(total - paused) + " paused-s " +
                   std::to_string(paused) + " pauses " + std::to_string(s.sleeper.pauses.size()) +
                   " cpu-s " + std::to_string(cpu));
            s.line("peak-kib idle " + std::to_string(s.idleKib) + " after-run " +
                   std::to_string(peak_kib()));
            auto pct = [](std::vector<double> v, double p) {
                if (v.empty()) return 0.0;
                std::sort(v.begin(), v.end());
                return v[std::min(v.size() - 1, static_cast<std::size_t>(p * v.size()))];
            };
            s.line("lateness-ms p50 " + std::to_string(pct(s.lateness, 0.5)) + " p99 " +
                   std::to_string(pct(s.lateness, 0.99)) + " max " +
                   std::to_string(pct(s.lateness, 1.0)) + " samples " +
                   std::to_string(s.lateness.size()) + " pause-max " +
                   std::to_string(pct(s.pausedLateness, 1.0)));
            s.line("frames " + std::to_string(window.redraw().frames() - s.framesBefore) +
                   " draws " + std::to_string(window.redraw().draws() - s.drawsBefore));
            // The run is over: end as the user would.
            QTimer::singleShot(0, &s.probe, [&form] { form.Exit_Click(); });
        }
    });
}

}  // namespace qm::bench
