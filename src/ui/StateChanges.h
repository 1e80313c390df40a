#pragma once

#include <QObject>

#include "app/AppState.h"

namespace quenda::ui {

// The application state's change notifications as one Qt signal, coalesced to at most once per
// turn of the event loop: a job that changes five values redraws the window once. Widgets
// connect to it, so a widget that goes away disconnects itself.
class StateChanges final : public QObject {
    Q_OBJECT
  public:
    // Becomes the state's observer; `state` must outlive this object.
    StateChanges(AppState& state, QObject* parent = nullptr);
    ~StateChanges() override;

    // Stops observing before the state goes away; nothing is announced afterwards.
    void detach();

  signals:
    void changed();
    void languageChanged();

  private:
    AppState* state_;
    bool pending_ = false;
};

}  // namespace quenda::ui
