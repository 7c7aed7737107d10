// A failure of a run as a value: what could not be done, to which path,
// the system's reason, and what it leaves undone for the user. The log is
// one place it goes; the window keeps the last run's for the user to see.
#pragma once

#include <string>

namespace qm::engine {

// What a failure means for the user's files.
enum class Outcome {
    notCopied,      // the file is not in the target (or not its new version)
    notMoved,       // the file stays in the source, not moved
    notReplicated,  // a directory or entry was left out of the run
    sourceKept,     // copied, but the source was not deleted
    skipped,        // changed while read; the next run takes it
    notRemoved,     // a file of the program's own stays behind
    notFlushed,     // copies may not be on disk yet
    runEnded,       // the batch run ended before its last entry
    other,          // nothing of the user's is left undone
};

struct Failure {
    std::string path;  // the file or directory it concerns
    Outcome outcome = Outcome::notReplicated;
    std::string reason;  // the system's reason; empty when the run found it itself
    std::string text;    // the whole account, as the log's line has it after the stamp
};

// A few words for the outcome ("not copied", "source kept").
const char* outcome_words(Outcome outcome);

// Where the failures of a run go, each as it happens.
class FailureSink {
public:
    virtual ~FailureSink() = default;
    virtual void failed(const Failure& failure) = 0;
};

}  // namespace qm::engine
