#pragma once

#include <string>
#include <string_view>

namespace quenda {

// Fills in the two interface texts that carry a number ("model.missing", "model.downloading").
// The texts are never handed to printf: only "%d" and "%%" are understood, so no text and no
// argument can make the formatting read or write anything it should not.
namespace L10nFormat {

// `format` with every "%d" replaced by `value` and every "%%" by "%". Any other "%" stays as
// it is.
std::string withInteger(std::string_view format, long long value);

// "model.missing" in the current language, for a model of `sizeMB` megabytes.
std::string modelMissing(long long sizeMB);

// "model.downloading" in the current language, for a download `progress` from 0.0 to 1.0,
// shown as a whole percentage truncated toward zero. A value outside that range is held to
// it; one that is not a number shows 0.
std::string modelDownloading(double progress);

// The whole percentage shown for `progress` (see modelDownloading).
int percentOf(double progress);

}  // namespace L10nFormat

}  // namespace quenda
