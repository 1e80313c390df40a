#include "live/GraphemeCount.h"

#include <cstdint>

namespace quenda::live {

namespace {

// Decodes one code point at `at`; an invalid sequence yields U+FFFD over one byte.
char32_t decode(std::string_view text, std::size_t& at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    std::size_t length = lead < 0x80           ? 1
                         : (lead >> 5) == 0x6  ? 2
                         : (lead >> 4) == 0xE  ? 3
                         : (lead >> 3) == 0x1E ? 4
                                               : 0;
    if (length == 0 || at + length > text.size()) {
        ++at;
        return U'\uFFFD';
    }
    char32_t code = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xC0) != 0x80) {
            ++at;
            return U'\uFFFD';
        }
        code = (code << 6) | (next & 0x3F);
    }
    at += length;
    return code;
}

// Code points that attach to the character before them.
bool extends(char32_t c) {
    return (c >= 0x0300 && c <= 0x036F) || (c >= 0x1AB0 && c <= 0x1AFF) ||
           (c >= 0x1DC0 && c <= 0x1DFF) || (c >= 0x20D0 && c <= 0x20FF) ||
           (c >= 0xFE00 && c <= 0xFE0F) || (c >= 0xFE20 && c <= 0xFE2F) ||
           (c >= 0x1F3FB && c <= 0x1F3FF) || (c >= 0xE0020 && c <= 0xE007F) ||
           (c >= 0xE0100 && c <= 0xE01EF) || c == 0x200D;
}

bool isRegionalIndicator(char32_t c) {
    return c >= 0x1F1E6 && c <= 0x1F1FF;
}

}  // namespace

std::size_t graphemeCount(std::string_view text, std::size_t limit) {
    std::size_t count = 0;
    std::size_t at = 0;
    char32_t previous = 0;
    bool openFlag = false;  // a regional indicator waiting for its partner
    while (at < text.size() && count < limit) {
        const char32_t c = decode(text, at);
        if (count > 0 && (extends(c) || previous == 0x200D || (previous == U'\r' && c == U'\n'))) {
            previous = c;
            continue;
        }
        if (isRegionalIndicator(c) && openFlag) {
            openFlag = false;
            previous = c;
            continue;
        }
        openFlag = isRegionalIndicator(c);
        previous = c;
        ++count;
    }
    return count;
}

}  // namespace quenda::live
