#include "app/SubtitleCredits.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string>

namespace quenda {

namespace {

// Every word the credit lines use, lower case. A credit is recognised by its site name; the
// other words only may surround it.
constexpr std::string_view kSiteName = "amara.org";
constexpr std::array<std::string_view, 24> kCreditWords = {
    "legendas",   "legenda",   "legendado",  "legendados", "legendagem", "pela",  "pelo", "por",
    "comunidade", "comunidad", "community",  "de",         "do",         "da",    "la",   "the",
    "by",         "subtitles", "subtítulos", "realizados", "hechos",     "amara", "org",  kSiteName,
};

bool isPunctuation(char c) {
    return std::string_view(".,;:!?\"'()[]-").find(c) != std::string_view::npos;
}

}  // namespace

bool isOnlySubtitleCredit(std::string_view transcript) {
    std::string lower(transcript);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    // Only ASCII letters change case; the accented letters of the list are lower case already.
    if (lower.find(kSiteName) == std::string::npos)
        return false;

    std::size_t position = 0;
    while (position < lower.size()) {
        const std::size_t start = lower.find_first_not_of(" \t\r\n", position);
        if (start == std::string::npos)
            break;
        std::size_t end = lower.find_first_of(" \t\r\n", start);
        if (end == std::string::npos)
            end = lower.size();
        std::string_view word(lower.data() + start, end - start);
        while (!word.empty() && isPunctuation(word.front()))
            word.remove_prefix(1);
        while (!word.empty() && (isPunctuation(word.back()) || word.ends_with("…")))
            word.remove_suffix(word.ends_with("…") ? std::string_view("…").size() : 1);
        if (!word.empty() &&
            std::find(kCreditWords.begin(), kCreditWords.end(), word) == kCreditWords.end())
            return false;
        position = end;
    }
    return true;
}

}  // namespace quenda
