// The interval scheduler: every tick of Timer1 counts as one minute; when
// the count reaches the slider's position the batch runs.
#include "engine/engine.h"
#include "ui/form1.h"

namespace qm::ui {

void Form1::Timer1_Timer() {
    // A tick that arrives while a run yields must not disturb it: it neither
    // counts nor checks the batch file (which would move the pickers). Nor
    // does one that arrives while a box waits for the user: it would stack
    // a second box on the first (the first-start box, a batch file that
    // cannot be written). Such a tick is dropped, not kept for later: the
    // count goes on with the next tick after the box is closed.
    if (running() || ended_ || boxOpen()) return;
    ++MinuteCounter;
    if (MinuteCounter == Slider1.value()) {
        runFailures_.clear();
        engine_->RunBatch();
        if (ended_) return;
        MinuteCounter = 0;
        tellRun();
    }
    store_->CheckBatchFile();
    engine_->BatchCursor = 0;
    Label1.setCaption(countdownText(false));
}

void Form1::Slider1_Change() {
    Timer1.setEnabled(false);
    if (Slider1.value() <= 0) Slider1.setValue(1);
    MinuteCounter = 0;
    // During a run the label keeps "BUSY..."; the run's end shows the count.
    if (!running()) Label1.setCaption(countdownText(true));
    Timer1.setEnabled(true);
}

}  // namespace qm::ui
