#pragma once

#include <string>
#include <string_view>

namespace quenda::text {

// `text` without white space and line breaks at either end: ASCII spaces, tabs and line
// breaks, and the Unicode spaces and separators (no-break space, the en/em spaces, the line
// and paragraph separators, ideographic space, ...) encoded as UTF-8. Inner text is unchanged.
std::string trimWhitespace(std::string_view text);

}  // namespace quenda::text
