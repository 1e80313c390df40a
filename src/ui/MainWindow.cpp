#include "ui/MainWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QScrollArea>
#include <QVBoxLayout>

#include "platform/Paths.h"
#include "ui/ActionButtons.h"
#include "ui/ApplicationId.h"
#include "ui/DropZone.h"
#include "ui/LiveSection.h"
#include "ui/ModelBanner.h"
#include "ui/ModelRow.h"
#include "ui/ShortcutPanel.h"
#include "ui/StateChanges.h"
#include "ui/StatusLine.h"
#include "ui/Style.h"
#include "ui/TextSection.h"

namespace quenda::ui {

namespace {

QFrame* divider(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

// Adds a menu item with its shortcut that runs `action`.
template <class Action>
void addItem(QMenu& menu, const QString& text, const QKeySequence& shortcut, QObject* context,
             Action action) {
    auto* item = menu.addAction(text);
    item->setShortcut(shortcut);
    QObject::connect(item, &QAction::triggered, context, action);
}

// Runs one of the standard editing slots (undo, copy, ...) on the focused text widget.
void editFocused(const char* slot) {
    if (QWidget* focused = QApplication::focusWidget())
        QMetaObject::invokeMethod(focused, slot);
}

}  // namespace

int MainWindow::contentHeight(std::optional<int> available) {
    return available ? std::min(*available - 40, 920) : 860;
}

MainWindow::MainWindow(AppState& state, Pasteboard& pasteboard, QWidget* parent)
    : QMainWindow(parent),
      state_(state),
      changes_(new StateChanges(state, this)),
      autostart_(kApplicationId, paths::executablePath()) {
    auto* content = new QWidget;
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(20, 20, 20, 20);
    column->setSpacing(14);

    // Panels are created top to bottom: the keyboard's focus order is the creation order.
    const auto add = [&](auto* panel) {
        column->addWidget(panel);
        connect(changes_, &StateChanges::changed, panel, [panel] { panel->refresh(); });
    };
    add(new DropZone(state, content));
    add(new ModelRow(state, content));
    add(new ModelBanner(state, content));
    add(new ShortcutPanel(state, content));
    column->addWidget(divider(content));
    add(new LiveSection(state, content));
    column->addWidget(divider(content));
    add(new TextSection(state, pasteboard, content));
    auto* actions = new ActionButtons(state, content);
    add(actions);
    add(new StatusLine(state, content));
    column->addStretch();
    connect(actions, &ActionButtons::quitRequested, this, &MainWindow::quitRequested);

    auto* scroll = new QScrollArea(this);
    scroll->setWidget(content);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    // Not a tab stop of its own: Tab goes from control to control, and the area scrolls to
    // the control that takes the focus.
    scroll->setFocusPolicy(Qt::NoFocus);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setCentralWidget(scroll);

    // Kept above other windows, so it stays in sight while the user dictates elsewhere.
    setWindowFlag(Qt::WindowStaysOnTopHint);
    setMinimumSize(kContentWidth, 380);
    const QScreen* screen = QGuiApplication::primaryScreen();
    resize(kContentWidth, contentHeight(screen ? std::optional(screen->availableGeometry().height())
                                               : std::nullopt) +
                              menuBar()->sizeHint().height());
    connect(changes_, &StateChanges::languageChanged, this, &MainWindow::retranslate);
    retranslate();
}

void MainWindow::retranslate() {
    setWindowTitle(l10n("window.title"));
    buildMenus();
    // Every panel's texts come from the state's language at refresh time.
    emit changes_->changed();
}

void MainWindow::buildMenus() {
    // clear() only takes the menus off the bar: the menus of the previous language go too.
    for (QMenu* menu : menuBar()->findChildren<QMenu*>(Qt::FindDirectChildrenOnly))
        menu->deleteLater();
    menuBar()->clear();
    QMenu* application = menuBar()->addMenu(QStringLiteral("&Quenda"));
    addItem(*application, l10n("menu.hide"), QKeySequence(Qt::CTRL | Qt::Key_H), this,
            [this] { showMinimized(); });
    // Starting at login, hidden in the tray: checked while the autostart entry exists, which
    // the item writes and removes. The mark follows the file, also when another start of
    // Quenda changed it or a write failed.
    auto* autostart = application->addAction(l10n("menu.autostart"));
    autostart->setCheckable(true);
    autostart->setChecked(autostart_.isEnabled());
    connect(application, &QMenu::aboutToShow, autostart,
            [this, autostart] { autostart->setChecked(autostart_.isEnabled()); });
    connect(autostart, &QAction::triggered, this, [this, autostart](bool checked) {
        (void)(checked ? autostart_.enable() : autostart_.disable());
        autostart->setChecked(autostart_.isEnabled());
    });
    application->addSeparator();
    addItem(*application, l10n("menu.quit"), QKeySequence(Qt::CTRL | Qt::Key_Q), this,
            [this] { emit quitRequested(); });

    QMenu* edit = menuBar()->addMenu(l10n("menu.edit"));
    const struct {
        const char* key;
        QKeySequence shortcut;
        const char* slot;
    } items[] = {
        {"menu.undo", QKeySequence(Qt::CTRL | Qt::Key_Z), "undo"},
        {"menu.redo", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), "redo"},
        {nullptr, {}, nullptr},
        {"menu.cut", QKeySequence(Qt::CTRL | Qt::Key_X), "cut"},
        {"menu.copy", QKeySequence(Qt::CTRL | Qt::Key_C), "copy"},
        {"menu.paste", QKeySequence(Qt::CTRL | Qt::Key_V), "paste"},
        {"menu.selectall", QKeySequence(Qt::CTRL | Qt::Key_A), "selectAll"},
    };
    for (const auto& item : items) {
        if (!item.key) {
            edit->addSeparator();
            continue;
        }
        addItem(*edit, l10n(item.key), item.shortcut, this,
                [slot = item.slot] { editFocused(slot); });
    }
}

void MainWindow::detachFromState() {
    changes_->detach();
    hide();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    event->ignore();
    emit closeRequested();
}

}  // namespace quenda::ui
