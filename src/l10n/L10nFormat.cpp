#include "l10n/L10nFormat.h"

#include <cmath>

#include "l10n/L10n.h"

namespace quenda::L10nFormat {

std::string withInteger(std::string_view format, long long value) {
    const std::string number = std::to_string(value);
    std::string result;
    result.reserve(format.size() + number.size());
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] == '%' && i + 1 < format.size()) {
            if (format[i + 1] == 'd') {
                result += number;
                ++i;
                continue;
            }
            if (format[i + 1] == '%') {
                result += '%';
                ++i;
                continue;
            }
        }
        result += format[i];
    }
    return result;
}

std::string modelMissing(long long sizeMB) {
    return withInteger(L10n::t("model.missing"), sizeMB);
}

int percentOf(double progress) {
    if (std::isnan(progress) || progress <= 0.0)
        return 0;
    if (progress >= 1.0)
        return 100;
    return static_cast<int>(progress * 100.0);
}

std::string modelDownloading(double progress) {
    return withInteger(L10n::t("model.downloading"), percentOf(progress));
}

}  // namespace quenda::L10nFormat
