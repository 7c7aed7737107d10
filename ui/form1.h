// Form1: the program's window as a headless model. Every control and menu
// item is a plain object; the handlers are the window's events. The Qt view
// draws this model and feeds user actions into the handlers.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "batch/store.h"
#include "engine/failure.h"
#include "engine/host.h"
#include "ui/controls.h"
#include "ui/services.h"

namespace qm::engine {
class Engine;
}

namespace qm::ui {

enum class MousePointer { Default = 0, Hourglass = 11 };

class Form1 final : public batch::Window, public engine::Host, public engine::FailureSink {
public:
    explicit Form1(Services services);
    ~Form1() override;
    Form1(const Form1&) = delete;
    Form1& operator=(const Form1&) = delete;

    // -- the window --------------------------------------------------------
    const std::string caption = "Quillmere";
    static constexpr int kClientWidth = 11595;  // twips
    static constexpr int kClientHeight = 6660;  // twips
    bool visible() const { return visible_; }
    void setVisible(bool on);
    // Minimised stands in for hidden when no notification area could bring
    // the window back.
    bool minimized() const { return minimized_; }
    void setMinimized(bool on);
    MousePointer mousePointer() const { return pointer_; }
    void setMousePointer(MousePointer p);
    bool ended() const { return ended_; }
    // Raised when visibility, pointer or the ended state change.
    Signal changed;

    // -- controls, in tab order ---------------------------------------------
    Frame Frame1;
    Button Command1;
    DriveList BronDrive;
    DirectoryList BronTree;
    FileList Brondir;
    TextBox Text1;
    Frame Frame2;
    Button Command2;
    FileList Doeldir;
    TextBox Text2;
    DirectoryList Doeltree;
    DriveList Doeldrive;
    Button Command4;
    Button Command5;
    Slider Slider1;
    Label Label1;
    ProgressBar ProgressBar1;
    CheckBox Check2;
    Frame Frame3;
    ListBox List1;
    Button Command7;
    TextBox Text3;
    TextBox Text4;
    Button Command3;
    // Every 65535 ms, or as the environment's QUILLMERE_TICK_MS says.
    Timer Timer1;

    // Every control above except Timer1, in tab order.
    std::vector<Control*> controls();
    // The button that Alt and letter presses: the one visible, enabled
    // button whose caption marks the letter; null when there is none, or
    // more than one. "&OK" of the frame being chosen shares its letter with
    // the "&Options" menu, which the key opens when no OK can be pressed.
    Button* accessKeyButton(char letter);

    // -- menus -------------------------------------------------------------
    MenuItem File, Exit, Options, BD, DD, CC, Subs, Movefiles, rcpopup, mShow;
    std::vector<MenuItem*> menuItems();

    // -- program-wide values -------------------------------------------------
    int MinuteCounter = 0;
    std::string SubsValue;
    std::string StartDirectory;

    batch::Store& store() { return *store_; }
    engine::Engine& engine() { return *engine_; }
    // A batch run is in progress.
    bool running() const;
    // One of the program's message boxes is open.
    bool boxOpen() const { return boxesOpen_ > 0; }

    // -- handlers ----------------------------------------------------------
    void Form_Load();
    void Form_Unload();
    void Exit_Click();
    void CC_Click();
    void Subs_Click();
    void Movefiles_Click();
    void Command3_Click();
    void mShow_Click();

    void Timer1_Timer();
    void Slider1_Change();

    void Command1_Click();
    void BD_Click();
    void Command2_Click();
    void DD_Click();
    void Command5_Click();
    void Command4_Click();
    void BronDrive_Change();
    void Doeldrive_Change();

    void AddBatchEntry();
    void Command7_Click();
    void List1_Click();

    void SysTraySetup();
    void SysTrayMouseEventHandler();

    // What the last batch run left undone, kept whether the log is on or
    // not; and when it ended, and what it copied or moved.
    const std::vector<engine::Failure>& lastRunFailures() const { return lastFailures_; }
    // The icon's tip: the program's name and version, then the last run.
    std::string trayTip() const;

    // The countdown line; spaced is the form with a blank before the slash.
    std::string countdownText(bool spaced) const;

    // -- batch::Window -------------------------------------------------------
    void notice(const std::string& title, const std::string& text) override;
    void showFirstEntry(const std::string& source, const std::string& target) override;
    void setSubsValue(const std::string& value) override;
    void clearList() override;
    void addListItem(const std::string& item) override;
    std::string startDirectory() override;

    // -- engine::Host ----------------------------------------------------------
    void showDrives(const engine::Pair& pair) override;
    void showTree(engine::Side side, const std::string& path,
                  const std::vector<std::string>& subdirectories) override;
    void showFiles(engine::Side side, const engine::DirRead& read) override;
    void showCounts(const std::string& source, const std::string& target) override;
    void showProgress(const engine::Progress& progress) override;
    void showBusy(engine::Busy what, bool on) override;
    bool checked(engine::Option option) override;
    void setSubsChecked(bool on) override;
    void yield() override;
    bool ask(const std::string& text) override;
    void inform(const std::string& text) override;
    void pause(unsigned ms) override;
    os::LocalTime now() override;
    bool ending() override;

    // -- engine::FailureSink ---------------------------------------------------
    void failed(const engine::Failure& failure) override;

private:
    // After a run: the tip tells it, and one that failed is told once, in
    // a notification or, without a notification area, by the window.
    void tellRun();
    // Edits and choices wait for a running batch to end: true (and the user
    // told) when one is running.
    bool refusedDuringRun(const std::string& what);
    // A Yes/No box titled "Question"; true for Yes.
    bool question(const std::string& text);
    // Counts a box as open while it is shown.
    struct BoxOpen {
        int& n;
        explicit BoxOpen(int& count) : n(count) { ++n; }
        ~BoxOpen() { --n; }
    };
    void driveChange(DriveList& drive, DirectoryList& tree);
    // Opens the tree at the directory its file list has just read, with the
    // subdirectories that read found; fails as that read failed.
    os::Status openTreeAtFileList(engine::Side side);
    // Steps of a batch run that touch the window: busy (controls disabled,
    // "BUSY...") and idle again.
    void setRunBusy(bool busy);
    DirectoryList& tree(engine::Side s) { return s == engine::Side::source ? BronTree : Doeltree; }
    FileList& fileList(engine::Side s) { return s == engine::Side::source ? Brondir : Doeldir; }
    DriveList& driveList(engine::Side s) {
        return s == engine::Side::source ? BronDrive : Doeldrive;
    }

    Services services_;
    std::unique_ptr<batch::Store> store_;
    std::unique_ptr<engine::Engine> engine_;
    bool visible_ = false;
    bool minimized_ = false;
    bool toldNoTray_ = false;
    // The program's boxes open now; a tick is dropped while one is.
    int boxesOpen_ = 0;
    bool ended_ = false;
    MousePointer pointer_ = MousePointer::Default;
    std::vector<bool> restingEnabled_;
    std::string programDir_;
    std::vector<engine::Failure> runFailures_, lastFailures_;
    bool ranOnce_ = false;
    os::LocalTime lastRun_{};
    int lastCopied_ = 0;
};

}  // namespace qm::ui
