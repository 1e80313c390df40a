#include "platform/Text.h"

#include <array>

namespace quenda::text {

namespace {

// The UTF-8 encodings of the non-ASCII white-space and line-break characters.
constexpr std::array<std::string_view, 19> kUnicodeSpaces = {
    "\xC2\x85",      // next line
    "\xC2\xA0",      // no-break space
    "\xE1\x9A\x80",  // ogham space mark
    "\xE2\x80\x80", "\xE2\x80\x81", "\xE2\x80\x82", "\xE2\x80\x83", "\xE2\x80\x84",
    "\xE2\x80\x85", "\xE2\x80\x86", "\xE2\x80\x87", "\xE2\x80\x88", "\xE2\x80\x89",
    "\xE2\x80\x8A",  // en quad ... hair space
    "\xE2\x80\xA8",  // line separator
    "\xE2\x80\xA9",  // paragraph separator
    "\xE2\x80\xAF",  // narrow no-break space
    "\xE2\x81\x9F",  // medium mathematical space
    "\xE3\x80\x80",  // ideographic space
};

bool isAsciiSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// The length of the white-space character that `text` starts (or, with `atEnd`, ends) with.
size_t spaceLength(std::string_view text, bool atEnd) {
    if (text.empty())
        return 0;
    if (isAsciiSpace(atEnd ? text.back() : text.front()))
        return 1;
    auto matches = [&](std::string_view space) {
        return atEnd ? text.ends_with(space) : text.starts_with(space);
    };
    for (auto space : kUnicodeSpaces) {
        if (matches(space))
            return space.size();
    }
    return 0;
}

}  // namespace

std::string trimWhitespace(std::string_view text) {
    while (size_t n = spaceLength(text, false))
        text.remove_prefix(n);
    while (size_t n = spaceLength(text, true))
        text.remove_suffix(n);
    return std::string(text);
}

}  // namespace quenda::text
