#pragma once

#include <QWidget>

#include "app/AppState.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QListWidget;
class QPushButton;

namespace quenda::ui {

// Live translation: the source language, speech and mute choices, the start/stop button and
// the translated lines, newest at the bottom.
class LiveSection final : public QWidget {
    Q_OBJECT
  public:
    explicit LiveSection(AppState& state, QWidget* parent = nullptr);
    void refresh();

  private:
    AppState& state_;
    QLabel* title_;
    QLabel* subtitle_;
    QLabel* sourceLabel_;
    QComboBox* source_;
    QCheckBox* speak_;
    QCheckBox* mute_;
    QPushButton* toggle_;
    QListWidget* lines_;
    QLabel* permissions_;
};

}  // namespace quenda::ui
