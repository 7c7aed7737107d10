// One program folder, one running instance. Two starts from the same folder
// (autostart and the menu, say) would run the same batch and write the same
// BATCH.INI through the same working files; the second start instead brings
// the first one's window forward and ends. Copies in other folders are
// independent. Decided before anything touches BATCH.INI.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/platform.h"

namespace qm::ui {

// Beside the executable; locked by the instance that runs, for its life.
inline constexpr const char* kInstanceLockName = "quillmere.lock";

// A name for the program folder, the same for every start from it and
// different for another folder: how a second start finds the first.
// Sixteen hex digits; the folder's case is folded where names ignore it.
std::string instanceKey(const std::string& programDir);

enum class Start {
    run,        // this process runs the batch
    woken,      // another instance runs here and was told to show its window
    unreached,  // another instance runs here but did not answer in time
};

struct Claim {
    Start start = Start::run;
    // The lock; held for as long as this is kept. Empty unless start is run.
    std::shared_ptr<void> hold;
    // Why no lock could be taken (a folder that cannot be written): the
    // process then runs unguarded, as there is nothing to share a batch
    // through that it could not write either.
    std::optional<os::Error> error;
};

// Takes the folder's lock, or else asks wake to reach the instance that
// holds it; wake returns false while that instance does not answer (it may
// be starting, or have just ended). Tries again until patienceMs have passed:
// a lock freed meanwhile makes this the instance that runs.
Claim claimInstance(const std::string& programDir, const std::function<bool()>& wake,
                    unsigned patienceMs = 10000);

}  // namespace qm::ui
