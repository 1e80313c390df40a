#include "l10n/AppLanguage.h"

namespace quenda {

std::optional<AppLanguage> AppLanguage::fromRawValue(std::string_view raw) {
    for (AppLanguage language : allCases()) {
        if (language.rawValue() == raw)
            return language;
    }
    return std::nullopt;
}

const std::array<AppLanguage, 3>& AppLanguage::allCases() {
    static constexpr std::array<AppLanguage, 3> cases = {pt, en, es};
    return cases;
}

std::string_view AppLanguage::rawValue() const {
    switch (value_) {
        case en:
            return "en";
        case es:
            return "es";
        case pt:
            break;
    }
    return "pt-BR";
}

std::string_view AppLanguage::displayName() const {
    switch (value_) {
        case en:
            return "English";
        case es:
            return "Español";
        case pt:
            break;
    }
    return "Português (Brasil)";
}

}  // namespace quenda
