#pragma once

#include <QString>

#include "app/AppServices.h"

class QWidget;

namespace quenda::ui {

// The desktop's file dialog, offering audio files by extension. It opens in the home folder,
// then in the folder of the last file chosen.
class OpenFileDialogQt final : public OpenFileDialog {
  public:
    explicit OpenFileDialogQt(QWidget* parent = nullptr) : parent_(parent) {}
    void setParent(QWidget* parent) { parent_ = parent; }
    std::optional<std::filesystem::path> chooseAudioFile(
        std::span<const std::string_view> extensions) override;

  private:
    QWidget* parent_;
    QString folder_;
};

}  // namespace quenda::ui
