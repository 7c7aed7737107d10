// The window as a whole: its controls, start-up and end, the option
// toggles, hiding and showing, and what the batch store and the engine read
// and set through it.
#include "ui/form1.h"

#include <cctype>
#include <charconv>
#include <system_error>
#include <utility>

#include "engine/engine.h"

namespace qm::ui {

using engine::Option;
using engine::Side;

namespace {
const std::string W = "Form1";
const std::string F1 = "Frame1";
const std::string F2 = "Frame2";
const std::string F3 = "Frame3";

// Timer1's period: 65535 ms, about a minute. QUILLMERE_TICK_MS, a positive
// number of ms, shortens it, so that a benchmark or a test reaches the
// slider's tick without waiting an hour; the tick itself is the real one.
int timer1Period() {
    constexpr int kPeriod = 65535;
    const auto v = os::current().env("QUILLMERE_TICK_MS");
    if (!v) return kPeriod;
    int ms = 0;
    const char* end = v->data() + v->size();
    const auto [stop, ec] = std::from_chars(v->data(), end, ms);
    return ec == std::errc() && stop == end && ms > 0 ? ms : kPeriod;
}
}  // namespace

Form1::Form1(Services services)
    : Frame1("Frame1", W, {120, 0, 3132, 5532}, 0, "Sourceproperties"),
      Command1("Command1", F1, {120, 4680, 732, 612}, 1, "&Source"),
      BronDrive("BronDrive", F1, {120, 4200, 2892, 288}, 2),
      BronTree("BronTree", F1, {120, 1560, 2892, 2184}, 3),
      Brondir("Brondir", F1, {120, 3840, 2892, 285}, 4),
      Text1("Text1", F1, {120, 240, 2895, 735}, 5, true, ""),
      Frame2("Frame2", W, {3360, 0, 3132, 5532}, 6, "Targetproperties"),
      Command2("Command2", F2, {120, 4680, 732, 612}, 7, "&Target"),
      Doeldir("Doeldir", F2, {120, 1560, 2892, 2235}, 8),
      Text2("Text2", F2, {0, 240, 2895, 735}, 9, true, ""),
      Doeltree("Doeltree", F2, {120, 1560, 2895, 2115}, 10),
      Doeldrive("Doeldrive", F2, {120, 4200, 2895, 315}, 11),
      Command4("Command4", F2, {2280, 4680, 732, 612}, 12, "&OK"),
      Command5("Command5", F1, {2280, 4680, 732, 612}, 13, "&OK"),
      Slider1("Slider1", W, {120, 6000, 6372, 372}, 14, 0, 60, 60),
      Label1("Label1", W, {120, 5640, 6372, 252}, 15),
      ProgressBar1("ProgressBar1", F2, {120, 3960, 2892, 252}, 16),
      Check2("Check2", W, {6720, 6240, 1932, 252}, 17, "Write to syncfile.log"),
      Frame3("Frame3", W, {6720, 0, 4692, 5532}, 18, "Batch"),
      List1("List1", F3, {120, 360, 4332, 4935}, 19),
      Command7("Command7", W, {8160, 5640, 2055, 492}, 20, "&Remove from batch"),
      Text3("Text3", F1, {120, 1080, 2895, 285}, 21, false, "Text3"),
      Text4("Text4", F2, {120, 1080, 2775, 285}, 22, false, "Text4"),
      Command3("Command3", W, {10320, 5640, 975, 495}, 23, "&Hide"),
      Timer1(timer1Period()),
      File("File", "", "&File"),
      Exit("Exit", "File", "E&xit"),
      Options("Options", "", "&Options"),
      BD("BD", "Options", "&Sourcedirectory"),
      DD("DD", "Options", "&Targetdirectory"),
      CC("CC", "Options", "&Confirm copy/move"),
      Subs("Subs", "Options", "&Include Subs"),
      Movefiles("Movefiles", "Options", "&Move Files"),
      rcpopup("rcpopup", "", "&popupmenu"),
      mShow("mShow", "rcpopup", "Show Interface "),
      services_(services) {
    BronDrive.setEnabled(false);
    BronTree.setEnabled(false);
    Brondir.setVisible(false);
    Doeldir.setVisible(false);
    Doeltree.setEnabled(false);
    Doeldrive.setEnabled(false);
    Command4.setEnabled(false);
    Command5.setEnabled(false);
    Command7.setEnabled(false);
    Subs.setChecked(true);
    rcpopup.setVisible(false);

    auto dir = os::current().program_dir();
    programDir_ = dir ? *dir : std::string(".");
    store_ = std::make_unique<batch::Store>(*this, programDir_);
    engine_ = std::make_unique<engine::Engine>(*this, *store_);
    engine_->addFailureSink(this);

    // Events the model raises itself.
    BronDrive.driveChanged.connect([this] { BronDrive_Change(); });
    Doeldrive.driveChanged.connect([this] { Doeldrive_Change(); });
    Slider1.moved.connect([this] { Slider1_Change(); });
    List1.clicked.connect([this] { List1_Click(); });

    // User actions that the view reports.
    Command1.clicked.connect([this] { Command1_Click(); });
    Command2.clicked.connect([this] { Command2_Click(); });
    Command3.clicked.connect([this] { Command3_Click(); });
    Command4.clicked.connect([this] { Command4_Click(); });
    Command5.clicked.connect([this] { Command5_Click(); });
    Command7.clicked.connect([this] { Command7_Click(); });
    Exit.clicked.connect([this] { Exit_Click(); });
    BD.clicked.connect([this] { BD_Click(); });
    DD.clicked.connect([this] { DD_Click(); });
    CC.clicked.connect([this] { CC_Click(); });
    Subs.clicked.connect([this] { Subs_Click(); });
    Movefiles.clicked.connect([this] { Movefiles_Click(); });
    mShow.clicked.connect([this] { mShow_Click(); });
}

Form1::~Form1() = default;

std::vector<Control*> Form1::controls() {
    return {&Frame1,   &Command1, &BronDrive, &BronTree, &Brondir,      &Text1,
            &Frame2,   &Command2, &Doeldir,   &Text2,    &Doeltree,     &Doeldrive,
            &Command4, &Command5, &Slider1,   &Label1,   &ProgressBar1, &Check2,
            &Frame3,   &List1,    &Command7,  &Text3,    &Text4,        &Command3};
}

std::vector<MenuItem*> Form1::menuItems() {
    return {&File, &Exit, &Options, &BD, &DD, &CC, &Subs, &Movefiles, &rcpopup, &mShow};
}

bool Form1::running() const {
    return engine_->running();
}

void Form1::setVisible(bool on) {
    if (visible_ == on) return;
    visible_ = on;
    changed.emit();
}

void Form1::setMinimized(bool on) {
    if (minimized_ == on) return;
    minimized_ = on;
    changed.emit();
}

void Form1::setMousePointer(MousePointer p) {
    if (pointer_ == p) return;
    pointer_ = p;
    changed.emit();
}

std::string Form1::countdownText(bool spaced) const {
    return std::string(spaced ? "Interval in minutes 1-60 /Next update approx. "
                              : "Interval in minutes 1-60/Next update approx. ") +
           batch::sign_number(Slider1.value() - MinuteCounter) + " minutes from now...";
}

// -- start-up and end -------------------------------------------------------

void Form1::Form_Load() {
    BronDrive.refreshDrives();
    Doeldrive.refreshDrives();
    ProgressBar1.setVisible(false);
    Brondir.setPattern("*.*");
    MinuteCounter = 0;
    Label1.setCaption(countdownText(true));
    auto cwd = os::current().current_dir();
    StartDirectory = cwd ? *cwd : programDir_;
    engine_->BatchCursor = 0;
    store_->CheckBatchFile();
    store_->ListBatch();
    SysTraySetup();
}

void Form1::Form_Unload() {
    Exit_Click();
}

void Form1::Exit_Click() {
    if (ended_) return;
    // A run in progress sees ending() at its next yield and stops at once,
    // leaving no partial file under a target name.
    ended_ = true;
    Timer1.setEnabled(false);
    changed.emit();
    if (services_.tray) services_.tray->remove();
    if (services_.app) services_.app->quit();
}

Button* Form1::accessKeyButton(char letter) {
    auto upper = [](char c) {
        return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    };
    Button* found = nullptr;
    for (Control* c : controls()) {
        auto* b = dynamic_cast<Button*>(c);
        if (!b || !b->visible() || !b->enabled()) continue;
        const std::string& t = b->caption();
        const auto amp = t.find('&');
        if (amp == std::string::npos || amp + 1 >= t.size() || upper(t[amp + 1]) != upper(letter))
            continue;
        if (found) return nullptr;
        found = b;
    }
    return found;
}

// -- options -----------------------------------------------------------------

void Form1::CC_Click() {
    CC.setChecked(!CC.checked());
}
void Form1::Subs_Click() {
    Subs.setChecked(!Subs.checked());
}
void Form1::Movefiles_Click() {
    Movefiles.setChecked(!Movefiles.checked());
}

// -- drive lists -------------------------------------------------------------

void Form1::BronDrive_Change() {
    driveChange(BronDrive, BronTree);
}
void Form1::Doeldrive_Change() {
    driveChange(Doeldrive, Doeltree);
}

void Form1::driveChange(DriveList& drive, DirectoryList& tree) {
    if (tree.openDrive(drive.drive())) return;
    // Not ready: spring back, silently, to the drive the tree is on. That
    // raises the change once more, which opens the tree there.
    drive.setDrive(tree.path().empty() ? os::placeholder_root() : tree.path());
}

// -- batch::Window ---------------------------------------------------------------

void Form1::notice(const std::string& title, const std::string& text) {
    if (!services_.dialogs) return;
    BoxOpen open(boxesOpen_);
    services_.dialogs->notice(title, text);
}

bool Form1::question(const std::string& text) {
    if (!services_.dialogs) return false;
    BoxOpen open(boxesOpen_);
    return services_.dialogs->ask("Question", text);
}

void Form1::showFirstEntry(const std::string& source, const std::string& target) {
    Brondir.setPath(source);
    Doeldir.setPath(target);
    // The drive before the tree: selecting a drive moves the tree to it.
    BronDrive.setDrive(source);
    Doeldrive.setDrive(target);
    Text3.setText(source);
    Text4.setText(target);
    // Each tree opens its entry's directory as just read, refreshed: from
    // the read its file list has just made, so that a directory of many
    // subdirectories is read once at every tick, not three times. One that
    // cannot be read leaves the tree where it was, read again.
    for (Side side : {Side::source, Side::target}) {
        if (openTreeAtFileList(side)) continue;
        (void)tree(side).setPath(side == Side::source ? source : target);
        tree(side).refresh();
    }
}

void Form1::setSubsValue(const std::string& value) {
    SubsValue = value;
}
void Form1::clearList() {
    List1.clear();
}
void Form1::addListItem(const std::string& item) {
    List1.addItem(item);
}
std::string Form1::startDirectory() {
    return StartDirectory;
}

os::Status Form1::openTreeAtFileList(Side side) {
    const FileList& files = fileList(side);
    if (files.error()) return std::unexpected(*files.error());
    tree(side).show(files.path(), files.subdirectories());
    return {};
}

// -- engine::Host --------------------------------------------------------------

void Form1::showDrives(const engine::Pair& pair) {
    driveList(Side::source).setDrive(pair.source);
    driveList(Side::target).setDrive(pair.target);
}
void Form1::showTree(Side side, const std::string& path,
                     const std::vector<std::string>& subdirectories) {
    tree(side).show(path, subdirectories);
}
void Form1::showFiles(Side side, const engine::DirRead& read) {
    fileList(side).show(read);
}

bool Form1::checked(Option option) {
    switch (option) {
        case Option::confirm:
            return CC.checked();
        case Option::move:
            return Movefiles.checked();
        case Option::subs:
            return Subs.checked();
        case Option::log:
            return Check2.value() == 1;
    }
    return false;
}
void Form1::setSubsChecked(bool on) {
    Subs.setChecked(on);
}

void Form1::showCounts(const std::string& source, const std::string& target) {
    Text1.setText(source);
    Text2.setText(target);
}
void Form1::showProgress(const engine::Progress& progress) {
    if (progress.visible) {
        ProgressBar1.setMax(progress.max);
        ProgressBar1.setMin(0);
        ProgressBar1.setValue(progress.value);
    }
    ProgressBar1.setVisible(progress.visible);
}
void Form1::showBusy(engine::Busy what, bool on) {
    if (what == engine::Busy::run)
        setRunBusy(on);
    else
        setMousePointer(on ? MousePointer::Hourglass : MousePointer::Default);
}

void Form1::setRunBusy(bool busy) {
    // A choice left open keeps its state, but its lists and its OK button
    // rest while the run points the pickers at each entry.
    Control* const resting[] = {&BronTree, &BronDrive, &Doeltree, &Doeldrive, &Command4};
    if (busy) {
        Check2.setEnabled(false);
        Command1.setEnabled(false);
        Command2.setEnabled(false);
        Command5.setEnabled(false);
        Label1.setCaption("BUSY...");
        restingEnabled_.clear();
        for (Control* c : resting) {
            restingEnabled_.push_back(c->enabled());
            c->setEnabled(false);
        }
    } else {
        Command1.setEnabled(true);
        Command2.setEnabled(true);
        Check2.setEnabled(true);
        Command5.setEnabled(false);
        for (std::size_t i = 0; i < restingEnabled_.size(); ++i)
            resting[i]->setEnabled(restingEnabled_[i]);
        restingEnabled_.clear();
    }
}

void Form1::yield() {
    if (services_.pump) services_.pump->yield();
}
bool Form1::ask(const std::string& text) {
    return question(text);
}
void Form1::inform(const std::string& text) {
    notice("Information", text);
}
void Form1::pause(unsigned ms) {
    if (services_.sleeper)
        services_.sleeper->sleep_ms(ms);
    else
        os::current().sleep_ms(ms);
}
os::LocalTime Form1::now() {
    return services_.clock ? services_.clock->now() : os::current().local_time();
}
bool Form1::ending() {
    return ended_;
}

}  // namespace qm::ui
