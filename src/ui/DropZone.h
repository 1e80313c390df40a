#pragma once

#include <QWidget>

#include "app/AppState.h"

class QLabel;
class QUrl;

namespace quenda::ui {

// The dashed area at the top of the window: a click opens the file dialog, a dropped file (the
// first of a drop) is transcribed and copied, not pasted.
class DropZone final : public QWidget {
    Q_OBJECT
  public:
    explicit DropZone(AppState& state, QWidget* parent = nullptr);
    void refresh();
    // What a drop does: the first item, when it is a local file, is transcribed and copied;
    // the others are ignored. False when nothing was dropped.
    bool takeDrop(const QList<QUrl>& urls);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    void setDropActive(bool active);

    AppState& state_;
    QLabel* title_;
    bool dropActive_ = false;
};

}  // namespace quenda::ui
