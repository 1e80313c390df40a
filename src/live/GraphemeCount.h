#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quenda::live {

// How many characters a reader sees in UTF-8 `text`: a base character together with its
// combining marks, variation selectors, emoji modifiers and zero-width-joined partners counts
// once, and so do a pair of regional indicators (a flag) and CR LF. A byte that is not valid
// UTF-8 counts as one character. Counting ends at `limit`.
std::size_t graphemeCount(std::string_view text, std::size_t limit = SIZE_MAX);

}  // namespace quenda::live
