#pragma once

#include <QWidget>

#include "app/AppState.h"
#include "input/SessionBackends.h"

class QCheckBox;
class QLabel;

namespace quenda::ui {

// The clean-up and fast-mode switches and the push-to-talk shortcut: its keys, whether it is
// recording, how to use it, and a warning when the shortcut or the paste cannot work on this
// desktop.
class ShortcutPanel final : public QWidget {
    Q_OBJECT
  public:
    explicit ShortcutPanel(AppState& state, QWidget* parent = nullptr);
    void refresh();

  private:
    AppState& state_;
    QCheckBox* clean_;
    QCheckBox* fast_;
    QLabel* label_;
    QLabel* keycap_;
    QLabel* keys_;
    QLabel* recording_;
    QLabel* hint_;
    QLabel* warning_;
    // Which push-to-talk and paste backends this session uses and why, and on a desktop where
    // the shortcut has to be bound by hand, the command to bind.
    const InputBackends backends_;
    QLabel* backend_;
};

}  // namespace quenda::ui
