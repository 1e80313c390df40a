#pragma once

#include <QWidget>

#include "app/AppState.h"
#include "platform/Pasteboard.h"

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace quenda::ui {

// The last text and, once there is one, its summary: read-only boxes whose text can be
// selected and copied, and the summary's expand and copy buttons.
class TextSection final : public QWidget {
    Q_OBJECT
  public:
    TextSection(AppState& state, Pasteboard& pasteboard, QWidget* parent = nullptr);
    void refresh();

  private:
    AppState& state_;
    Pasteboard& pasteboard_;
    bool summaryExpanded_ = false;
    QLabel* lastTitle_;
    QPlainTextEdit* last_;
    QWidget* summaryHeader_;
    QLabel* summaryTitle_;
    QPushButton* expand_;
    QPushButton* copyAll_;
    QPlainTextEdit* summary_;
};

}  // namespace quenda::ui
