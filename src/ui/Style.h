#pragma once

#include <QLabel>
#include <QString>
#include <string_view>

#include "l10n/L10n.h"

namespace quenda::ui {

// The interface text of `key` in the current language.
inline QString l10n(std::string_view key) {
    return QString::fromStdString(L10n::t(key));
}

// Small helpers for the few text styles the window uses, so every panel looks alike.
namespace style {

// A smaller, dimmer text for explanations under a control.
void caption(QLabel& label, bool dim = true);
// A bold section title.
void headline(QLabel& label);
// A panel with rounded corners on a faint fill (`rgba` as a style-sheet colour).
QString roundedPanel(const char* objectName, const char* rgba, int radius = 8);

}  // namespace style

}  // namespace quenda::ui
