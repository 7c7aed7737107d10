// syncfile.log: one line per directory in which files were copied or moved,
// and one per file or directory that could not be handled.
#include <cstdio>

#include "batch/store.h"
#include "engine/engine.h"

namespace qm::engine {

namespace {
// Work between two yields stays well under 50 ms.
constexpr auto kYieldEvery = std::chrono::milliseconds(30);
}  // namespace

os::Result<std::string> Engine::listDirectory() {
    auto& os = os::current();
    // An unset winbootdir would put the lists into the root of the drive,
    // which an ordinary user cannot write; the shared temporary directory
    // would show every listed path to every user.
    if (auto w = os.env("winbootdir"); w && !w->empty()) return *w;
    return os.own_temp_dir();
}

std::string Engine::listPath(const std::string& name) {
    if (listDir_.empty()) {
        if (auto d = listDirectory()) listDir_ = *d;
    }
    // Never the root of the drive, which an empty directory would name.
    if (listDir_.empty()) return {};
    return os::join(listDir_, name);
}

namespace {
// A name may hold a line break; each record stays one line.
std::string oneLine(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}
}  // namespace

std::string Engine::logPath() const {
    return os::join(store_.programDir(), "syncfile.log");
}

// A program killed while it wrote a line can leave the line cut off: a
// write may end between two pages of the file. Nothing else ends that line.
bool Engine::logLineCut() {
    auto& os = os::current();
    auto info = os.stat(logPath());
    if (!info || info->kind != os::Kind::file || info->size == 0) return false;
    auto last = os.read_part(logPath(), info->size - 1, 1);
    return last && !last->empty() && last->back() != '\n';
}

// Ends a cut line, so that the next record starts a line of its own. The
// cut text stays: it is all there is of that record, and nothing in the
// log is removed.
void Engine::endCutLogLine() {
    if (!logLineCut() || os::current().append_file(logPath(), "\r\n")) logTailDue_ = false;
}

void Engine::WriteSyncLog(const std::string& Text) {
    // A log that cannot be written never stops a run; the line is lost,
    // and the user is told once. The log names each file as it is: it
    // turns into UTF-8 at the first name that its code page lacks.
    std::string line = oneLine(Text) + "\r\n";
    if (logTailDue_ && logLineCut()) line = "\r\n" + line;
    auto w = os::append_text(logPath(), line);
    if (w) {
        logTailDue_ = false;
        // Told, and writable again: a new failure is told again.
        if (!logDead_) logDeadTold_ = false;
        return;
    }
    if (!logDeadTold_ && !logDead_) logDead_ = w.error();
    // A box would hold the run until it is closed: it waits for the run's end.
    if (!running_) tellDeadLog();
}

void Engine::tellDeadLog() {
    if (!logDead_) return;
    const std::string why = logDead_->message();
    logDead_.reset();
    logDeadTold_ = true;
    host_.inform("The log could not be written, lines are lost: " + why);
}

std::string Engine::stamp() {
    const os::LocalTime t = host_.now();
    char buf[64];
    std::snprintf(buf, sizeof buf, "%02d-%02d-%04d/%02d:%02d:%02d-", t.month, t.day, t.year, t.hour,
                  t.minute, t.second);
    return buf;
}

void Engine::LogSink::failed(const Failure& failure) {
    if (e_.host_.checked(Option::log)) e_.WriteSyncLog(e_.stamp() + " " + failure.text);
}

void Engine::logFailure(Outcome outcome, const std::string& path, const std::string& text,
                        const std::string& reason) {
    // Told after the copies still in flight before it.
    inOrder([this, failure = Failure{path, outcome, reason, text}] {
        for (FailureSink* sink : sinks_) sink->failed(failure);
    });
}

Outcome Engine::copyFailed() {
    return host_.checked(Option::move) ? Outcome::notMoved : Outcome::notCopied;
}

const char* outcome_words(Outcome outcome) {
    switch (outcome) {
        case Outcome::notCopied:
            return "not copied";
        case Outcome::notMoved:
            return "not moved";
        case Outcome::notReplicated:
            return "not replicated";
        case Outcome::sourceKept:
            return "source kept";
        case Outcome::skipped:
            return "skipped";
        case Outcome::notRemoved:
            return "not removed";
        case Outcome::notFlushed:
            return "not flushed to disk";
        case Outcome::runEnded:
            return "run ended early";
        case Outcome::other:
            break;
    }
    return "not done";
}

void Engine::yieldNow() {
    host_.yield();
    lastYield_ = std::chrono::steady_clock::now();
}

void Engine::yieldIfDue() {
    if (std::chrono::steady_clock::now() - lastYield_ >= kYieldEvery) yieldNow();
}

}  // namespace qm::engine
