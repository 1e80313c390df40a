#pragma once

#include <QMainWindow>

#include "app/AppState.h"
#include "platform/AutostartEntry.h"
#include "platform/Pasteboard.h"

namespace quenda::ui {

class StateChanges;

// The one window: the panels in a scrolling column, the menus, the title. It shows the state
// and forwards the user's actions; it holds no workflow of its own.
class MainWindow final : public QMainWindow {
    Q_OBJECT
  public:
    static constexpr int kContentWidth = 476;

    MainWindow(AppState& state, Pasteboard& pasteboard, QWidget* parent = nullptr);

    // The content height for a screen whose free height is `available` (nothing: no screen).
    static int contentHeight(std::optional<int> available);

    // The state's changes as Qt signals, for the rest of the application to follow too.
    StateChanges& changes() { return *changes_; }

    // Hides the window and stops showing the state, which is about to go away.
    void detachFromState();

  signals:
    void quitRequested();
    // The user closed the window.
    void closeRequested();

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void buildMenus();
    void retranslate();

    AppState& state_;
    StateChanges* changes_;
    AutostartEntry autostart_;
};

}  // namespace quenda::ui
