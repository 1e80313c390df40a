#pragma once

#include <QWidget>

#include "app/AppState.h"

class QComboBox;
class QLabel;

namespace quenda::ui {

// The speech-model picker and the interface-language picker.
class ModelRow final : public QWidget {
    Q_OBJECT
  public:
    explicit ModelRow(AppState& state, QWidget* parent = nullptr);
    void refresh();

  private:
    AppState& state_;
    QLabel* modelLabel_;
    QComboBox* model_;
    QLabel* languageLabel_;
    QComboBox* language_;
};

}  // namespace quenda::ui
