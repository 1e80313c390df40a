#pragma once

#include <QWidget>

#include "app/AppState.h"

class QPushButton;

namespace quenda::ui {

// The column of buttons: transcribe a file, summarise, copy the last text, quit.
class ActionButtons final : public QWidget {
    Q_OBJECT
  public:
    explicit ActionButtons(AppState& state, QWidget* parent = nullptr);
    void refresh();

  signals:
    void quitRequested();

  private:
    AppState& state_;
    QPushButton* transcribe_;
    QPushButton* summarize_;
    QPushButton* copyLast_;
    QPushButton* quit_;
};

}  // namespace quenda::ui
