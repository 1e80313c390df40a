#pragma once

#include <QFrame>

#include "app/AppState.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace quenda::ui {

// Shown while the selected model is missing: its size and a download button, or the
// download's progress and a cancel button.
class ModelBanner final : public QFrame {
    Q_OBJECT
  public:
    explicit ModelBanner(AppState& state, QWidget* parent = nullptr);
    void refresh();

  private:
    AppState& state_;
    QLabel* missing_;
    QPushButton* download_;
    QProgressBar* progress_;
    QPushButton* cancel_;
};

}  // namespace quenda::ui
