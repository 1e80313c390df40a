#pragma once

#include <string>
#include <string_view>

#include "l10n/AppLanguage.h"

namespace quenda {

// The interface texts in three languages, looked up by dotted key ("status.ready"), and the
// chosen interface language, kept in the standard defaults store (platform/Defaults.h) under
// "uiLanguage". Every member is safe to call from any thread.
namespace L10n {

// The defaults key that holds the raw value of the chosen language.
inline constexpr std::string_view kLanguageKey = "uiLanguage";

// The text for `key` in the current language (Portuguese when that language lacks one). A key
// that is not in the table comes back unchanged.
std::string t(std::string_view key);

// The chosen language, read from the store on every call: "en" and "es" pick those languages;
// nothing stored, "pt-BR" or any other text means Brazilian Portuguese.
AppLanguage current();

// Stores the language's raw value. Announcing the change is the caller's job.
void setCurrent(AppLanguage language);

}  // namespace L10n

}  // namespace quenda
