#include "ui/ModelRow.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QSignalBlocker>

#include "ui/Style.h"

namespace quenda::ui {

ModelRow::ModelRow(AppState& state, QWidget* parent)
    : QWidget(parent),
      state_(state),
      modelLabel_(new QLabel(this)),
      model_(new QComboBox(this)),
      languageLabel_(new QLabel(this)),
      language_(new QComboBox(this)) {
    model_->setMaximumWidth(240);
    language_->setMaximumWidth(240);
    modelLabel_->setBuddy(model_);
    languageLabel_->setBuddy(language_);

    for (const auto& language : AppLanguage::allCases())
        language_->addItem(QString::fromUtf8(language.displayName().data(),
                                             static_cast<qsizetype>(language.displayName().size())),
                           static_cast<int>(language.value()));

    // Two lines, labels in one column: both pickers show their longest entry in full in the
    // narrow window, in every language.
    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(modelLabel_, 0, 0);
    layout->addWidget(model_, 0, 1, Qt::AlignLeft);
    layout->addWidget(languageLabel_, 1, 0);
    layout->addWidget(language_, 1, 1, Qt::AlignLeft);
    layout->setColumnStretch(1, 1);
    for (const auto& model : TranscriptionEngine::availableModels())
        model_->addItem(QString(), QString::fromStdString(model.id));

    // Only the user's choices write back: activated is not sent for changes made in refresh().
    connect(model_, &QComboBox::activated, this, [this](int index) {
        state_.setModelID(model_->itemData(index).toString().toStdString());
        refresh();  // a refused change (live translation running) shows the model in use again
    });
    connect(language_, &QComboBox::activated, this, [this](int index) {
        state_.setUiLanguage(AppLanguage::allCases()[static_cast<size_t>(index)]);
    });
    refresh();
}

void ModelRow::refresh() {
    const QSignalBlocker blockModel(model_), blockLanguage(language_);
    modelLabel_->setText(l10n("model"));
    languageLabel_->setText(l10n("app.language"));
    model_->setAccessibleName(l10n("model"));
    language_->setAccessibleName(l10n("app.language"));

    // The entries stay; their names follow the interface language.
    const auto& models = TranscriptionEngine::availableModels();
    for (size_t i = 0; i < models.size(); ++i)
        model_->setItemText(static_cast<int>(i), l10n("model." + models[i].id));
    model_->setCurrentIndex(model_->findData(QString::fromStdString(state_.modelID())));
    model_->setEnabled(!state_.liveActive());
    language_->setCurrentIndex(static_cast<int>(state_.uiLanguage().value()));
}

}  // namespace quenda::ui
