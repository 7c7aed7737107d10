// Source and target selection: the small state machine behind the two
// pickers. The enabled states of the controls are its only state.
#include "ui/form1.h"

namespace qm::ui {

bool Form1::refusedDuringRun(const std::string& what) {
    if (!running()) return false;
    notice("Information", "The batch is being replicated. " + what + " when the run has ended.");
    return true;
}

void Form1::Command1_Click() {
    // The run points these pickers at each entry in turn.
    if (refusedDuringRun("Please choose a directory")) return;
    BronTree.setEnabled(true);
    BronDrive.setEnabled(true);
    Command1.setEnabled(false);
    Command5.setEnabled(true);
    Command2.setEnabled(false);
    Timer1.setEnabled(false);
}

void Form1::BD_Click() {
    Command1_Click();
}

void Form1::Command2_Click() {
    if (refusedDuringRun("Please choose a directory")) return;
    Doeltree.setEnabled(true);
    Doeldrive.setEnabled(true);
    Command2.setEnabled(false);
    Command4.setEnabled(true);
    Command1.setEnabled(false);
    Timer1.setEnabled(false);
}

void Form1::DD_Click() {
    Command2_Click();
}

void Form1::Command5_Click() {
    if (refusedDuringRun("Please confirm the source")) return;
    Brondir.setPath(BronTree.path());
    Text3.setText(BronTree.path());
    BronTree.setEnabled(false);
    BronDrive.setEnabled(false);
    Command1.setEnabled(true);
    Command2.setEnabled(true);
    Command5.setEnabled(false);
    notice("Information", "Please select target directory...");
    Command2_Click();
}

void Form1::Command4_Click() {
    if (refusedDuringRun("Please confirm the target")) return;
    Text4.setText(Doeltree.path());
    Doeldir.setPath(Doeltree.path());
    Doeldrive.setEnabled(false);
    Doeltree.setEnabled(false);
    Command2.setEnabled(true);
    Command4.setEnabled(false);
    Command1.setEnabled(true);
    Text3.setText(BronTree.path());
    AddBatchEntry();
    Timer1.setEnabled(true);
}

}  // namespace qm::ui
