// The window's controls as plain objects: the state the program reads and
// writes, and a change signal the view listens to. No toolkit here.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/host.h"
#include "platform/platform.h"

namespace qm::ui {

// A list of callbacks; the view connects to redraw, Form1 to raise events.
class Signal {
public:
    using Slot = std::function<void()>;
    void connect(Slot s) { slots_.push_back(std::move(s)); }
    void emit() const {
        // A slot may connect another; iterate over a copy.
        auto copy = slots_;
        for (auto& s : copy) s();
    }

private:
    std::vector<Slot> slots_;
};

class Frame;
class Button;
class Label;
class TextBox;
class CheckBox;
class ListBox;
class Slider;
class ProgressBar;
class DriveList;
class DirectoryList;
class MenuItem;

// Makes a view's widgets, one for each control and menu item.
class WidgetMaker {
public:
    // Draws what a control holds (text, items, position) on its widget.
    using Draw = std::function<void()>;

    // Makes the widget of a control, once, in tab order, after the
    // container it sits in; returns what draws the control's content, or
    // nothing when there is none beside its enabled and visible state. One
    // for each kind of control the window shows: every kind calls its own,
    // so a kind added and not drawn by a view does not compile. The file
    // lists are never shown.
    virtual Draw make(Frame&) = 0;
    virtual Draw make(Button&) = 0;
    virtual Draw make(Label&) = 0;
    virtual Draw make(TextBox&) = 0;
    virtual Draw make(CheckBox&) = 0;
    virtual Draw make(ListBox&) = 0;
    virtual Draw make(Slider&) = 0;
    virtual Draw make(ProgressBar&) = 0;
    virtual Draw make(DriveList&) = 0;
    virtual Draw make(DirectoryList&) = 0;
    // A menu item, after the menu it sits in.
    virtual Draw make(MenuItem&) = 0;

protected:
    ~WidgetMaker() = default;
};

// Position and size in twips, relative to the container.
struct Rect {
    int left = 0, top = 0, width = 0, height = 0;
};

class Control {
public:
    Control(std::string name, std::string container, Rect geometry, int tab_index)
        : name_(std::move(name)),
          container_(std::move(container)),
          geometry_(geometry),
          tab_index_(tab_index) {}
    virtual ~Control() = default;
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;

    const std::string& name() const { return name_; }
    // "Form1" for the window itself.
    const std::string& container() const { return container_; }
    const Rect& geometry() const { return geometry_; }
    // Position in the tab order; -1 for controls outside it.
    int tabIndex() const { return tab_index_; }

    bool enabled() const { return enabled_; }
    void setEnabled(bool on) { set(enabled_, on); }
    bool visible() const { return visible_; }
    void setVisible(bool on) { set(visible_, on); }

    // Has the maker make this control's widget; nothing for a control that
    // has none.
    virtual std::optional<WidgetMaker::Draw> makeWidget(WidgetMaker& m) = 0;

    Signal changed;

protected:
    template <class T>
    void set(T& field, const T& value) {
        if (field == value) return;
        field = value;
        changed.emit();
    }

private:
    std::string name_, container_;
    Rect geometry_;
    int tab_index_;
    bool enabled_ = true;
    bool visible_ = true;
};

class Frame : public Control {
public:
    Frame(std::string name, std::string container, Rect g, int tab, std::string caption)
        : Control(std::move(name), std::move(container), g, tab), caption_(std::move(caption)) {}
    std::optional<WidgetMaker::Draw> makeWidget(WidgetMaker& m) override { return m.make(*this); }
    const std::string& caption() const { return caption_; }

private:
    std::string caption_;
};

class Button : public Control {
public:
    Button(std::string name, std::string container, Rect g, int tab, std::string caption)
        : Control(std::move(name), std::move(container), g, tab), caption_(std::move(caption)) {}
    std::optional<WidgetMaker::Draw> makeWidget(WidgetMaker& m) override { return m.make(*this); }
    const std::string& caption() const { return caption_; }

    // Raised when the user presses the button.
    Signal clicked;

private:
    std::string caption_;
};

class Label : public Control {
public:
    using Control::Control;
    std::optional<WidgetMaker::Draw> makeWidget(WidgetMaker& m) override { return m.make(*this); }
    const std::string& caption() const { return caption_; }
    void setCaption(const std::string& c) { set(caption_, c); }

private:
    std::string caption_;
};

class TextBox : public Control {
public:
    TextBox(std::string name, std::string container, Rect g, int tab, bool multiline,
            std::string text)
        : Control(std::move(name), std::move(container), g, tab),
          multiline_(multiline),
          text_(std::move(text)) {}
    std::optional<WidgetMaker::Draw> makeWidget(WidgetMaker& m) override { return m.make(*this); }
    bool multiline() const { return multiline_; }
    const std::string& text() const { return text_; }
    void setText(const std::string& t) { set(text_, t); }

private:
    bool multiline_;
    std::string text_;
};

class CheckBox : public Control {
public:
    CheckBox(std::string name, std::string container, Rect g, int tab, std::string caption)
        : Control(std::move(name), std::move(container), g, tab), caption_(std::move(caption)) {}
    std::optional<WidgetMaker::Draw> makeWidget(WidgetMaker& m) override { return m.make(*this); }
    const std::string& caption() const { return caption_; }
    // 0 not ticked, 1 ticked.
    int value() const { return value_; }
    void setValue(int v) { set(value_, v); }

private:
    std::string caption_;
    int value_ = 0;
};

class ListBox : public Control {
public:
    using Control::Control;
    std::optional<WidgetMaker::Draw> makeWidget(WidgetMaker& m) override { return m.make(*this); }
    const std::vector<std::string>& items() const { return items_; }
    int listCount() const { return static_cast<int>(items_.size()); }
    void clear() {
        items_.clear();
        selected_ = -1;
        changed.emit();
    }
    void addItem(const std::string& item) {
        items_.push_back(item);
        changed.emit();
    }
    // -1 when nothing is selected.
    int listIndex() const { return selected_; }
    // Selecting raises clicked (the list's Click event) when the index changes.
    void setListIndex(int i) {
        if (i < -1 || i >= listCount()) i = -1;
        if (i == selected_) return;
        selected_ = i;
        changed.emit();
        clicked.emit();
    }
    // The selected item's text; empty when nothing is selected.
    std::string text() const { return selected_ >= 0 ? items_[selected_] : std::string(); }

    Signal clicked;

private:
    std::vector<std::string> items_;
    int selected_ = -1;
};

class Slider : public Control {
public:
    Slider(std::string name, std::string container, Rect g, int tab, int min, int max, int value)
        : Control(std::move(name), std::move(container), g, tab),
          min_(min),
          max_(max),
          value_(value) {}
    std::optional<WidgetMaker::Draw> makeWidget(WidgetMaker& m) override { return m.make(*this); }
    int min() const { return min_; }
    int max() const { return max_; }
    int value() const { return value_; }
    // A change of position raises moved (the slider's Change event).
    void setValue(int v) {
        if (v < min_) v = min_;
        if (v > max_) v = max_;
        if (v == value_) return;
        value_ = v;
        changed.emit();
        moved.emit();
    }

    Signal moved;

private:
    int min_, max_, value_;
};

class ProgressBar : public Control {
public:
    using Control::Control;
    std::optional<WidgetMaker::Draw> makeWidget(WidgetMaker& m) override { return m.make(*this); }
    int min() const { return min_; }
    int max() const { return max_; }
    int value() const { return value_; }
    void setMin(int v) { set(min_, v); }
    void setMax(int v) { set(max_, v); }
    void setValue(int v) { set(value_, v); }

private:
    int min_ = 0, max_ = 100, value_ = 0;
};

class MenuItem {
public:
    MenuItem(std::string name, std::string parent, std::string caption)
        : name_(std::move(name)), parent_(std::move(parent)), caption_(std::move(caption)) {}
    MenuItem(const MenuItem&) = delete;
    MenuItem& operator=(const MenuItem&) = delete;

    const std::string& name() const { return name_; }
    // The menu it sits in; "" for the menu bar.
    const std::string& parent() const { return parent_; }
    const std::string& caption() const { return caption_; }
    bool checked() const { return checked_; }
    void setChecked(bool on) { set(checked_, on); }
    bool enabled() const { return enabled_; }
    void setEnabled(bool on) { set(enabled_, on); }
    bool visible() const { return visible_; }
    void setVisible(bool on) { set(visible_, on); }

    Signal changed;
    // Raised when the user chooses the item.
    Signal clicked;

private:
    void set(bool& field, bool value) {
        if (field == value) return;
        field = value;
        changed.emit();
    }
    std::string name_, parent_, caption_;
    bool checked_ = false, enabled_ = true, visible_ = true;
};

// A timer that the view runs; tests fire it by calling the tick handler.
class Timer {
public:
    explicit Timer(int interval_ms) : interval_(interval_ms) {}
    bool enabled() const { return enabled_; }
    // Switching the timer on starts a fresh period.
    void setEnabled(bool on) {
        if (on == enabled_) return;
        enabled_ = on;
        changed.emit();
    }
    int interval() const { return interval_; }

    Signal changed;

private:
    int interval_;
    bool enabled_ = true;
};

// The machine's drives (mounted volumes on POSIX).
class DriveList : public Control {
public:
    using Control::Control;
    std::optional<WidgetMaker::Draw> makeWidget(WidgetMaker& m) override { return m.make(*this); }
    // Rereads the drives from the system.
    void refreshDrives();
    const std::vector<std::string>& drives() const { return drives_; }
    const std::string& drive() const { return drive_; }
    // Selects the drive that holds path (a drive or any path on it). A
    // different drive raises driveChanged; the same drive raises nothing.
    void setDrive(const std::string& path);

    // The list's Change event.
    Signal driveChanged;

private:
    std::vector<std::string> drives_;
    std::string drive_;
};

// The directory hierarchy around an open directory.
class DirectoryList : public Control {
public:
    using Control::Control;
    std::optional<WidgetMaker::Draw> makeWidget(WidgetMaker& m) override { return m.make(*this); }
    // The open directory: full path, a drive root with its trailing
    // separator, any other directory without one.
    const std::string& path() const { return path_; }
    // Opens a directory; fails (and keeps the old path) when it cannot be
    // opened.
    [[nodiscard]] os::Status setPath(const std::string& path);
    // Opens a drive at its root; fails when the drive is not ready.
    [[nodiscard]] os::Status openDrive(const std::string& drive);
    // Rereads the subdirectories of the open directory.
    void refresh();
    // Opens path with the subdirectories that a read made elsewhere found.
    void show(const std::string& path, const std::vector<std::string>& subdirectories);

    // What the list shows: the ancestors of the open directory from the root
    // down, the open directory, then its subdirectories. depth gives the
    // indentation; open marks the open directory.
    struct Line {
        std::string path;
        std::string label;
        int depth = 0;
        bool open = false;
    };
    const std::vector<Line>& lines() const { return lines_; }

private:
    os::Status rebuild(const std::string& path);
    void build(const std::string& path, std::vector<std::string> subdirectories);
    std::string path_;
    std::vector<Line> lines_;
};

// The files of one directory that match the pattern and are neither hidden
// nor system, sorted by name. Never visible.
class FileList : public Control {
public:
    using Control::Control;
    std::optional<WidgetMaker::Draw> makeWidget(WidgetMaker&) override { return std::nullopt; }
    const std::string& path() const { return path_; }
    // Setting the path rereads the directory unless told not to (a refresh
    // follows at once); what was read of another path is dropped at once.
    void setPath(const std::string& path, bool reread = true);
    const std::string& pattern() const { return pattern_; }
    void setPattern(const std::string& p);
    // Rereads the directory; between, when given, is called after each
    // entry and cancels the read by returning false (the list is then empty).
    void refresh(const std::function<bool()>& between = {});
    // Shows what a read made elsewhere found, at its path.
    void show(const engine::DirRead& read);
    int listCount() const { return static_cast<int>(listing_->size()); }
    const std::string& list(int i) const { return listing_->name(static_cast<std::size_t>(i)); }
    std::vector<std::string> files() const { return listing_->names(); }
    // The names and their lengths and times, as the last read found them;
    // held by whoever still works through them after the next read.
    std::shared_ptr<const engine::FileListing> listing() const { return listing_; }
    // The subdirectories that a directory list would show, from the same
    // read, unsorted.
    const std::vector<std::string>& subdirectories() const { return subdirs_; }
    // Why the last read of the directory failed; empty after a good read.
    const std::optional<os::Error>& error() const { return error_; }

private:
    void clear();

    std::string path_;
    std::string pattern_ = "*.*";
    std::shared_ptr<const engine::FileListing> listing_ = std::make_shared<engine::FileListing>();
    std::vector<std::string> subdirs_;
    std::optional<os::Error> error_;
};

// Whether name matches a file pattern with * and ? ("*.*" matches every name).
bool matches_pattern(const std::string& name, const std::string& pattern);

}  // namespace qm::ui
