#pragma once

namespace quenda::ui {

// The application's reverse-DNS identifier: the desktop file's name, the D-Bus name, the
// AppStream id.
inline constexpr const char* kApplicationId = "app.quenda.Quenda";

}  // namespace quenda::ui
