#include "view/mainwindow.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QSlider>
#include <QStaticText>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <algorithm>
#include <functional>
#include <memory>

#include "view/icon.h"

namespace qm::view {

namespace {

QString q(const std::string& s) {
    return QString::fromStdString(s);
}

constexpr int kPathRole = Qt::UserRole;
constexpr int kDepthRole = Qt::UserRole + 1;

// A theme's icon looks for its files on disk each time it is drawn in a
// size the theme lacks, and a run redraws the directory lists many times a
// second: the icon is drawn once, at the sizes a list uses, and kept.
// Looked up once for the program: a lookup probes thousands of paths. Kept
// to the end, never destroyed after the application's pixmap support.
QIcon folderIcon(QStyle::StandardPixmap which) {
    static auto& icons = *new std::map<QStyle::StandardPixmap, QIcon>;
    auto it = icons.find(which);
    if (it == icons.end()) {
        const QIcon themed = QApplication::style()->standardIcon(which);
        QIcon icon;
        for (int size : {16, 22, 24, 32}) icon.addPixmap(themed.pixmap(size));
        it = icons.emplace(which, icon).first;
    }
    return it->second;
}

// Draws each line of a directory list indented by its depth.
class IndentDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* p, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem o(option);
        o.rect.adjust(indent(o, index), 0, 0, 0);
        QStyledItemDelegate::paint(p, o, index);
    }
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize s = QStyledItemDelegate::sizeHint(option, index);
        s.rwidth() += indent(option, index);
        return s;
    }

private:
    static int indent(const QStyleOptionViewItem& o, const QModelIndex& index) {
        return index.data(kDepthRole).toInt() * o.fontMetrics.averageCharWidth() * 2;
    }
};

// A run rewrites a count box for every directory, mostly one number or
// one path of it: only the lines that changed are replaced. Setting the
// whole text would lay the box out anew and repaint its scroll bars.
void setLines(QPlainTextEdit* w, const QString& text) {
    const QStringList lines = text.split('\n');
    QTextDocument* doc = w->document();
    if (doc->blockCount() != lines.size()) {
        w->setPlainText(text);
        return;
    }
    QTextBlock b = doc->begin();
    for (const QString& line : lines) {
        if (b.text() != line) {
            QTextCursor cursor(b);
            cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
            cursor.insertText(line);
        }
        b = b.next();
    }
}

// A directory list: the open directory's ancestors, itself and its
// subdirectories. Only opening a line (double-click, Enter) changes the
// path; a highlighted line changes nothing.
class DirectoryView : public QListWidget {
public:
    DirectoryView(ui::DirectoryList& list, ui::ViewAdapter& adapter, QWidget* parent)
        : QListWidget(parent),
          list_(list),
          adapter_(adapter),
          opened_(folderIcon(QStyle::SP_DirOpenIcon)),
          closed_(folderIcon(QStyle::SP_DirClosedIcon)) {
        setItemDelegate(new IndentDelegate(this));
        setUniformItemSizes(true);
    }

    // Only the lines that changed are touched; during a run the list often
    // comes back to lines it showed a frame ago, or keeps its ancestors.
    void sync() {
        const auto& lines = list_.lines();
        int open = -1;
        for (std::size_t i = 0; i < lines.size(); ++i)
            if (lines[i].open) open = static_cast<int>(i);
        QSignalBlocker block(this);
        if (!sameLines(lines, open)) {
            setUpdatesEnabled(false);
            const int n = static_cast<int>(lines.size());
            while (count() > n) delete takeItem(count() - 1);
            for (int row = 0; row < n; ++row) {
                const auto& l = lines[static_cast<std::size_t>(row)];
                const bool wasOpen = row <= shownOpen_;
                if (row < static_cast<int>(shown_.size())) {
                    const auto& was = shown_[static_cast<std::size_t>(row)];
                    QListWidgetItem* it = item(row);
                    if (was.label != l.label) it->setText(q(l.label));
                    if (was.path != l.path) it->setData(kPathRole, q(l.path));
                    if (was.depth != l.depth) it->setData(kDepthRole, l.depth);
                    if (wasOpen != (row <= open)) it->setIcon(row <= open ? opened_ : closed_);
                } else {
                    // Filled before it joins the list: a change to an item
                    // in the list is told to the view, which for a list of
                    // thousands of lines costs more than the item itself.
                    auto* it = new QListWidgetItem(row <= open ? opened_ : closed_, q(l.label));
                    it->setData(kPathRole, q(l.path));
                    it->setData(kDepthRole, l.depth);
                    addItem(it);
                }
            }
            shown_ = lines;
            shownOpen_ = open;
            setUpdatesEnabled(true);
        }
        if (open >= 0 && currentRow() != open) setCurrentRow(open);
    }

protected:
    void keyPressEvent(QKeyEvent* e) override {
        if ((e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) && currentItem()) {
            openItem(currentItem());
            return;
        }
        QListWidget::keyPressEvent(e);
    }
    void mouseDoubleClickEvent(QMouseEvent* e) override {
        if (e->button() == Qt::LeftButton) {
            if (QListWidgetItem* item = itemAt(e->position().toPoint())) {
                openItem(item);
                return;
            }
        }
        QListWidget::mouseDoubleClickEvent(e);
    }

private:
    void openItem(QListWidgetItem* item) {
        adapter_.open(list_, item->data(kPathRole).toString().toStdString());
    }

    bool sameLines(const std::vector<ui::DirectoryList::Line>& lines, int open) const {
        if (open != shownOpen_ || lines.size() != shown_.size()) return false;
        for (std::size_t i = 0; i < lines.size(); ++i)
            if (lines[i].path != shown_[i].path || lines[i].label != shown_[i].label ||
                lines[i].depth != shown_[i].depth)
                return false;
        return true;
    }

    ui::DirectoryList& list_;
    ui::ViewAdapter& adapter_;
    const QIcon opened_, closed_;
    std::vector<ui::DirectoryList::Line> shown_;
    int shownOpen_ = -1;
};

// A frame whose caption sits on its top line, so that the controls the
// layout puts near the top stay inside it. Drawn by hand: a style sheet
// would route every control inside through the slow style-sheet style.
class FrameBox : public QGroupBox {
public:
    FrameBox(const QString& title, QWidget* parent) : QGroupBox(title, parent) {
        title_.setTextFormat(Qt::PlainText);
        title_.setText(title);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        const QFontMetrics fm = fontMetrics();
        const int line = fm.height() / 2;
        p.setRenderHint(QPainter::Antialiasing, false);
        p.setPen(palette().color(QPalette::Mid));
        p.drawRoundedRect(QRectF(rect()).adjusted(0.5, line + 0.5, -0.5, -0.5), 2, 2);
        const QSizeF size = title_.size();
        const int left = 6, pad = 2;
        p.fillRect(QRect(left, 0, static_cast<int>(size.width()) + 2 * pad, fm.height()),
                   palette().window());
        p.setPen(palette().color(QPalette::WindowText));
        p.drawStaticText(left + pad, (fm.height() - static_cast<int>(size.height())) / 2, title_);
    }

private:
    QStaticText title_;  // shaped once, not at every paint of a control inside
};

// A drive list; the drives are read again each time it opens, so that a
// volume mounted later can be chosen.
class DriveView : public QComboBox {
public:
    DriveView(ui::DriveList& list, ui::ViewAdapter& adapter, QWidget* parent)
        : QComboBox(parent), list_(list), adapter_(adapter) {
        connect(this, &QComboBox::activated, this, [this](int i) { adapter_.choose(list_, i); });
    }

    void sync() {
        QSignalBlocker block(this);
        if (shown_ != list_.drives()) {
            clear();
            for (const auto& d : list_.drives()) addItem(q(d), q(d));
            shown_ = list_.drives();
        }
        const int i = findData(q(list_.drive()));
        if (i != currentIndex()) setCurrentIndex(i);
    }

    void showPopup() override {
        adapter_.dropDown(list_);
        QComboBox::showPopup();
    }

private:
    ui::DriveList& list_;
    ui::ViewAdapter& adapter_;
    std::vector<std::string> shown_;
};

}  // namespace

// Makes the widget of each control and menu item, inside the window.
class MainWindow::Widgets final : public ui::WidgetMaker {
public:
    explicit Widgets(MainWindow& w) : w_(w) {}

    Draw make(ui::MenuItem& m) override {
        QAction* a = nullptr;
        if (m.parent().empty()) {
            if (m.name() == "rcpopup") {
                // Never on the menu bar: opened only as a popup.
                w_.popup_.setTitle(q(m.caption()));
                w_.menus_[m.name()] = &w_.popup_;
                a = w_.popup_.menuAction();
            } else {
                QMenu* menu = w_.menuBar()->addMenu(q(m.caption()));
                w_.menus_[m.name()] = menu;
                a = menu->menuAction();
            }
        } else {
            a = w_.menus_.at(m.parent())->addAction(q(m.caption()));
            QObject::connect(a, &QAction::triggered, &w_,
                             [&adapter = w_.adapter_, &m] { adapter.choose(m); });
        }
        w_.actions_[m.name()] = a;
        // An item shows a mark only while it is checked; a checkable action
        // would draw an empty box beside an unchecked one.
        auto draw = [&m, a, popup = m.name() == "rcpopup"] {
            QSignalBlocker block(a);
            a->setCheckable(m.checked());
            a->setChecked(m.checked());
            a->setEnabled(m.enabled());
            if (!popup) a->setVisible(m.visible());
        };
        // Qt flips a checkable action itself, hidden window or not; the model
        // decides.
        QObject::connect(a, &QAction::triggered, &w_, draw);
        return draw;
    }

    Draw make(ui::Frame& f) override {
        auto* box = new FrameBox(q(f.caption()), w_.host(f));
        w_.containers_[f.name()] = box;
        w_.place(f, box, true);
        return {};
    }

    Draw make(ui::Button& b) override {
        auto* w = new QPushButton(q(b.caption()), w_.host(b));
        QObject::connect(w, &QPushButton::clicked, &w_,
                         [&adapter = w_.adapter_, &b] { adapter.press(b); });
        w_.place(b, w);
        return {};
    }

    Draw make(ui::DriveList& d) override {
        auto* w = new DriveView(d, w_.adapter_, w_.host(d));
        w_.place(d, w);
        return [w] { w->sync(); };
    }

    Draw make(ui::DirectoryList& d) override {
        auto* w = new DirectoryView(d, w_.adapter_, w_.host(d));
        w_.place(d, w);
        return [w] { w->sync(); };
    }

    // Display fields: the program writes them and never reads them.
    Draw make(ui::TextBox& x) override {
        if (!x.multiline()) {
            auto* w = new QLineEdit(w_.host(x));
            w->setReadOnly(true);
            w_.place(x, w);
            return [&x, w] {
                const QString s = q(x.text());
                if (w->text() != s) w->setText(s);
            };
        }
        auto* w = new QPlainTextEdit(w_.host(x));
        w->setReadOnly(true);
        w->setUndoRedoEnabled(false);  // written in place, never undone
        w->setLineWrapMode(QPlainTextEdit::NoWrap);
        w->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        w_.place(x, w);
        return [&x, w, shown = std::make_shared<std::string>()] {
            if (*shown == x.text() && !shown->empty()) return;
            *shown = x.text();
            QString s = q(x.text());
            s.replace("\r\n", "\n");
            setLines(w, s);
        };
    }

    Draw make(ui::Slider& s) override {
        auto* w = new QSlider(Qt::Horizontal, w_.host(s));
        w->setRange(s.min(), s.max());
        w->setPageStep(5);
        w->setTickPosition(QSlider::TicksBelow);
        w->setTickInterval(5);
        // A drag changes the position once, when the slider is let go.
        w->setTracking(false);
        QObject::connect(w, &QSlider::valueChanged, &w_,
                         [&adapter = w_.adapter_, &s](int v) { adapter.release(s, v); });
        w_.place(s, w);
        return [&s, w] {
            QSignalBlocker block(w);
            w->setValue(s.value());
            w->setSliderPosition(s.value());
        };
    }

    Draw make(ui::Label& l) override {
        auto* w = new QLabel(w_.host(l));
        w->setTextFormat(Qt::PlainText);
        w_.place(l, w);
        return [&l, w] {
            const QString s = q(l.caption());
            if (w->text() != s) w->setText(s);
        };
    }

    Draw make(ui::ProgressBar& p) override {
        auto* w = new QProgressBar(w_.host(p));
        w->setTextVisible(false);
        w_.place(p, w);
        return [&p, w] {
            if (w->minimum() != p.min() || w->maximum() != p.max()) w->setRange(p.min(), p.max());
            if (w->value() != p.value()) {
                // setValue repaints at once, outside the frame; with updates off
                // it only marks the bar for the frame's paint.
                w->setUpdatesEnabled(false);
                w->setValue(p.value());
                w->setUpdatesEnabled(true);
            }
        };
    }

    Draw make(ui::CheckBox& k) override {
        auto* w = new QCheckBox(q(k.caption()), w_.host(k));
        QObject::connect(w, &QCheckBox::toggled, &w_,
                         [&adapter = w_.adapter_, &k](bool on) { adapter.toggle(k, on); });
        w_.place(k, w);
        return [&k, w] {
            QSignalBlocker block(w);
            w->setChecked(k.value() == 1);
        };
    }

    Draw make(ui::ListBox& l) override {
        auto* w = new QListWidget(w_.host(l));
        QObject::connect(w, &QListWidget::currentRowChanged, &w_,
                         [&adapter = w_.adapter_, &l](int row) { adapter.select(l, row); });
        w_.place(l, w);
        // Several clears and additions may come between two frames: the widget
        // appends what is new when it still shows the start of the list, and
        // is filled again otherwise.
        return [&l, w, shown = std::make_shared<std::vector<std::string>>()] {
            QSignalBlocker block(w);
            const auto& items = l.items();
            const bool prefix = shown->size() <= items.size() &&
                                std::equal(shown->begin(), shown->end(), items.begin());
            if (!prefix) {
                w->clear();
                shown->clear();
            }
            for (std::size_t i = shown->size(); i < items.size(); ++i) {
                w->addItem(q(items[i]));
                shown->push_back(items[i]);
            }
            if (w->currentRow() != l.listIndex()) w->setCurrentRow(l.listIndex());
        };
    }

private:
    MainWindow& w_;
};

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::ShortcutOverride && event->type() != QEvent::KeyPress)
        return QMainWindow::eventFilter(watched, event);
    auto* key = static_cast<QKeyEvent*>(event);
    auto* w = qobject_cast<QWidget*>(watched);
    if (key->modifiers() != Qt::AltModifier || key->key() < Qt::Key_A || key->key() > Qt::Key_Z ||
        !w || w->window() != this)
        return QMainWindow::eventFilter(watched, event);
    ui::Button* b = form_.accessKeyButton(static_cast<char>('A' + (key->key() - Qt::Key_A)));
    if (!b) return QMainWindow::eventFilter(watched, event);
    // Taken from the shortcuts (which would only move the focus between
    // the two owners of the letter), then pressed as a click would.
    event->accept();
    if (event->type() == QEvent::KeyPress) adapter_.press(*b);
    return true;
}

MainWindow::MainWindow(ui::Form1& form, int dpi, QWidget* parent)
    : QMainWindow(parent), form_(form) {
    if (dpi > 0)
        dpi_ = dpi;
    else if (QScreen* s = screen())
        dpi_ = static_cast<int>(s->logicalDotsPerInchY() + 0.5);
    setWindowTitle(q(form.caption));
    setWindowIcon(app_icon());

    Widgets widgets(*this);
    adapter_.makeMenus(widgets);
    auto* central = new QWidget(this);
    central->setFixedSize(px(ui::Form1::kClientWidth), px(ui::Form1::kClientHeight));
    setCentralWidget(central);
    containers_["Form1"] = central;
    adapter_.makeControls(widgets);
    adjustSize();
    setFixedSize(sizeHint());
    qApp->installEventFilter(this);

    // Timer1: each period counts as a minute, so it must not drift by the
    // coarse timer's 5 %.
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(form.Timer1.interval());
    connect(&timer_, &QTimer::timeout, this, [this] { adapter_.tick(); });
    frameTimer_.setSingleShot(true);
    connect(&frameTimer_, &QTimer::timeout, this, [this] { adapter_.frameDue(); });
    adapter_.start();
}

void MainWindow::setTickInterval(int ms) {
    tickInterval_ = ms;
    timer_.setInterval(ms);
}

int MainWindow::px(int twips) const {
    return (twips * dpi_ + 720) / 1440;
}

QWidget* MainWindow::widgetOf(const std::string& control) const {
    auto it = widgets_.find(control);
    return it == widgets_.end() ? nullptr : it->second;
}

QAction* MainWindow::actionOf(const std::string& item) const {
    auto it = actions_.find(item);
    return it == actions_.end() ? nullptr : it->second;
}

void MainWindow::place(ui::Control& c, QWidget* w, bool frame) {
    const auto& g = c.geometry();
    w->setGeometry(px(g.left), px(g.top), px(g.width), px(g.height));
    w->setObjectName(q(c.name()));
    widgets_[c.name()] = w;
    if (frame) return;
    // Filled by itself, a control that changes is repainted alone, not
    // with the frame and the controls behind it.
    w->setAutoFillBackground(true);
    // Keyboard focus follows the window's tab order, the order made in.
    if (lastInTabOrder_) setTabOrder(lastInTabOrder_, w);
    lastInTabOrder_ = w;
}

void MainWindow::drawState(ui::Control& c) {
    QWidget* w = widgets_.at(c.name());
    w->setEnabled(c.enabled());
    w->setVisible(c.visible());
}

void MainWindow::drawPointer(ui::MousePointer p) {
    if (p == ui::MousePointer::Hourglass)
        setCursor(Qt::WaitCursor);
    else
        unsetCursor();
}

void MainWindow::showWindow(bool minimized) {
    if (minimized)
        showMinimized();
    else
        show();
}

void MainWindow::restoreWindow() {
    if (isMinimized()) showNormal();
}

void MainWindow::changeEvent(QEvent* event) {
    // Restored by the user after it was minimised in place of hidden.
    if (event->type() == QEvent::WindowStateChange && !isMinimized()) adapter_.restored();
    QMainWindow::changeEvent(event);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    adapter_.close();
    event->accept();
}

}  // namespace qm::view
