#include "ui/StateChanges.h"

#include <QTimer>

namespace quenda::ui {

StateChanges::StateChanges(AppState& state, QObject* parent) : QObject(parent), state_(&state) {
    state_->onChange = [this](AppState::Property) {
        if (std::exchange(pending_, true))
            return;
        QTimer::singleShot(0, this, [this] {
            pending_ = false;
            if (state_)
                emit changed();
        });
    };
    state_->onLanguageChanged = [this] { emit languageChanged(); };
}

StateChanges::~StateChanges() {
    detach();
}

void StateChanges::detach() {
    if (!state_)
        return;
    state_->onChange = nullptr;
    state_->onLanguageChanged = nullptr;
    state_ = nullptr;
}

}  // namespace quenda::ui
