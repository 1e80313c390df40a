#pragma once

#include <QWidget>

#include "app/AppState.h"

class QLabel;
class QProgressBar;

namespace quenda::ui {

// The one-line status, with a spinner while a job runs.
class StatusLine final : public QWidget {
    Q_OBJECT
  public:
    explicit StatusLine(AppState& state, QWidget* parent = nullptr);
    void refresh();

  private:
    AppState& state_;
    QProgressBar* spinner_;
    QLabel* text_;
};

}  // namespace quenda::ui
