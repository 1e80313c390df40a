#pragma once

namespace quenda::ui {

// The application's reverse-DNS id: the desktop file's name, the session-bus name of the
// running instance and the metainfo id.
inline constexpr const char* kApplicationId = "app.quenda.Quenda";

}  // namespace quenda::ui
