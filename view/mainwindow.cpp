#include "view/mainwindow.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QSlider>
#include <QStyle>

#include "view/icon.h"

namespace qm::view {

namespace {

QString q(const std::string& s) { return QString::fromStdString(s); }

// Keeps a widget's enabled state in step with its control.
void follow(ui::Control& c, QWidget* w) {
    auto sync = [&c, w] { w->setEnabled(c.enabled()); };
    sync();
    c.changed.connect(sync);
}

}  // namespace

MainWindow::MainWindow(ui::Form1& form, QWidget* parent) : QMainWindow(parent), form_(form) {
    if (QScreen* s = screen()) dpi_ = static_cast<int>(s->logicalDotsPerInchX() + 0.5);
    setWindowTitle(q(form.caption));
    setWindowIcon(app_icon());
    buildMenus();
    buildControls();

    // Timer1: a fresh period whenever the model switches it on.
    timer_.setInterval(form.Timer1.interval());
    connect(&timer_, &QTimer::timeout, this, [this] { form_.Timer1_Timer(); });
    auto syncTimer = [this] {
        if (form_.Timer1.enabled())
            timer_.start();
        else
            timer_.stop();
    };
    syncTimer();
    form.Timer1.changed.connect(syncTimer);
    form.changed.connect([this] { syncWindow(); });
}

int MainWindow::px(int twips) const { return (twips * dpi_ + 720) / 1440; }

QWidget* MainWindow::widgetOf(const std::string& control) const {
    auto it = widgets_.find(control);
    return it == widgets_.end() ? nullptr : it->second;
}

QAction* MainWindow::actionOf(const std::string& item) const {
    auto it = actions_.find(item);
    return it == actions_.end() ? nullptr : it->second;
}

void MainWindow::buildMenus() {
    std::map<std::string, QMenu*> menus;
    for (ui::MenuItem* m : form_.menuItems()) {
        if (m->parent().empty()) {
            if (m->name() == "rcpopup") {
                // Never on the menu bar: opened only as a popup.
                popup_.setTitle(q(m->caption()));
                menus[m->name()] = &popup_;
            } else {
                menus[m->name()] = menuBar()->addMenu(q(m->caption()));
            }
            continue;
        }
        QMenu* parent = menus.at(m->parent());
        QAction* a = parent->addAction(q(m->caption()));
        const bool checkable = m->name() == "CC" || m->name() == "Subs" || m->name() == "Movefiles";
        a->setCheckable(checkable);
        actions_[m->name()] = a;
        auto sync = [m, a] {
            QSignalBlocker block(a);
            a->setChecked(m->checked());
            a->setEnabled(m->enabled());
            a->setVisible(m->visible());
        };
        sync();
        m->changed.connect(sync);
        connect(a, &QAction::triggered, this, [m, sync] {
            m->clicked.emit();
            sync();  // the model decides the check mark
        });
    }
}

void MainWindow::buildControls() {
    auto* central = new QWidget(this);
    central->setFixedSize(px(ui::Form1::kClientWidth), px(ui::Form1::kClientHeight));
    setCentralWidget(central);

    std::map<std::string, QWidget*> containers{{"Form1", central}};
    auto place = [&](ui::Control& c, QWidget* w) {
        const auto& g = c.geometry();
        w->setGeometry(px(g.left), px(g.top), px(g.width), px(g.height));
        widgets_[c.name()] = w;
        follow(c, w);
        w->setVisible(c.visible());
    };
    auto host = [&](ui::Control& c) { return containers.at(c.container()); };

    for (ui::Control* c : form_.controls()) {
        if (auto* f = dynamic_cast<ui::Frame*>(c)) {
            auto* box = new QGroupBox(q(f->caption()), host(*c));
            containers[c->name()] = box;
            place(*c, box);
        } else if (auto* b = dynamic_cast<ui::Button*>(c)) {
            auto* w = new QPushButton(q(b->caption()), host(*c));
            connect(w, &QPushButton::clicked, this, [b] { b->clicked.emit(); });
            place(*c, w);
        } else if (auto* d = dynamic_cast<ui::DriveList*>(c)) {
            auto* w = new QComboBox(host(*c));
            auto sync = [d, w] {
                QSignalBlocker block(w);
                w->clear();
                for (const auto& v : d->drives()) w->addItem(q(v));
                w->setCurrentIndex(w->findText(q(d->drive())));
            };
            sync();
            d->changed.connect(sync);
            connect(w, &QComboBox::activated, this, [d](int i) {
                if (i >= 0 && i < static_cast<int>(d->drives().size()))
                    d->setDrive(d->drives()[static_cast<std::size_t>(i)]);
            });
            place(*c, w);
        } else if (auto* t = dynamic_cast<ui::DirectoryList*>(c)) {
            auto* w = new QListWidget(host(*c));
            auto sync = [t, w] {
                QSignalBlocker block(w);
                w->clear();
                int open = -1;
                for (const auto& l : t->lines()) {
                    auto* item = new QListWidgetItem(QString(l.depth * 2, ' ') + q(l.label), w);
                    item->setData(Qt::UserRole, q(l.path));
                    if (l.open) open = w->count() - 1;
                }
                if (open >= 0) w->setCurrentRow(open);
            };
            sync();
            t->changed.connect(sync);
            // Only opening a directory (double-click or Enter) changes the
            // path; a highlighted line does not.
            connect(w, &QListWidget::itemActivated, this, [t](QListWidgetItem* item) {
                (void)t->setPath(item->data(Qt::UserRole).toString().toStdString());
            });
            place(*c, w);
        } else if (dynamic_cast<ui::FileList*>(c)) {
            // The file lists are never shown.
        } else if (auto* x = dynamic_cast<ui::TextBox*>(c)) {
            if (x->multiline()) {
                auto* w = new QPlainTextEdit(host(*c));
                w->setReadOnly(true);
                w->setLineWrapMode(QPlainTextEdit::NoWrap);
                w->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
                auto sync = [x, w] {
                    QString s = q(x->text());
                    s.replace("\r\n", "\n");
                    w->setPlainText(s);
                };
                sync();
                x->changed.connect(sync);
                place(*c, w);
            } else {
                auto* w = new QLineEdit(host(*c));
                w->setReadOnly(true);
                auto sync = [x, w] { w->setText(q(x->text())); };
                sync();
                x->changed.connect(sync);
                place(*c, w);
            }
        } else if (auto* s = dynamic_cast<ui::Slider*>(c)) {
            auto* w = new QSlider(Qt::Horizontal, host(*c));
            w->setRange(s->min(), s->max());
            w->setTickPosition(QSlider::TicksBelow);
            w->setTickInterval(5);
            auto sync = [s, w] {
                QSignalBlocker block(w);
                w->setValue(s->value());
            };
            sync();
            s->changed.connect(sync);
            connect(w, &QSlider::valueChanged, this, [s, sync](int v) {
                s->setValue(v);
                sync();
            });
            place(*c, w);
        } else if (auto* l = dynamic_cast<ui::Label*>(c)) {
            auto* w = new QLabel(host(*c));
            auto sync = [l, w] { w->setText(q(l->caption())); };
            sync();
            l->changed.connect(sync);
            place(*c, w);
        } else if (auto* p = dynamic_cast<ui::ProgressBar*>(c)) {
            auto* w = new QProgressBar(host(*c));
            w->setTextVisible(false);
            auto sync = [p, w] {
                w->setRange(p->min(), p->max());
                w->setValue(p->value());
                w->setVisible(p->visible());
            };
            sync();
            p->changed.connect(sync);
            place(*c, w);
        } else if (auto* k = dynamic_cast<ui::CheckBox*>(c)) {
            auto* w = new QCheckBox(q(k->caption()), host(*c));
            auto sync = [k, w] {
                QSignalBlocker block(w);
                w->setChecked(k->value() == 1);
            };
            sync();
            k->changed.connect(sync);
            connect(w, &QCheckBox::toggled, this, [k](bool on) { k->setValue(on ? 1 : 0); });
            place(*c, w);
        } else if (auto* b2 = dynamic_cast<ui::ListBox*>(c)) {
            auto* w = new QListWidget(host(*c));
            auto sync = [b2, w] {
                QSignalBlocker block(w);
                if (w->count() != b2->listCount() ||
                    (b2->listCount() > 0 &&
                     w->item(w->count() - 1)->text() != q(b2->items().back()))) {
                    w->clear();
                    for (const auto& i : b2->items()) w->addItem(q(i));
                }
                w->setCurrentRow(b2->listIndex());
            };
            sync();
            b2->changed.connect(sync);
            connect(w, &QListWidget::currentRowChanged, this, [b2](int row) { b2->setListIndex(row); });
            place(*c, w);
        }
    }

    // Keyboard focus follows the window's tab order.
    QWidget* previous = nullptr;
    for (ui::Control* c : form_.controls()) {
        QWidget* w = widgetOf(c->name());
        if (!w || dynamic_cast<ui::Frame*>(c)) continue;
        if (previous) setTabOrder(previous, w);
        previous = w;
    }

    adjustSize();
    setFixedSize(sizeHint());
}

void MainWindow::syncWindow() {
    if (form_.mousePointer() == ui::MousePointer::Hourglass)
        setCursor(Qt::WaitCursor);
    else
        unsetCursor();
    if (form_.ended()) {
        close();
        return;
    }
    if (form_.minimized()) {
        if (!isMinimized()) showMinimized();
        return;
    }
    if (form_.visible()) {
        if (isMinimized()) showNormal();
        if (!isVisible()) show();
    } else if (isVisible()) {
        hide();
    }
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (!form_.ended()) form_.Form_Unload();
    event->accept();
}

}  // namespace qm::view
