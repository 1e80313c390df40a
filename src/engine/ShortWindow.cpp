#include "engine/ShortWindow.h"

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

namespace quenda::shortwindow {

namespace {

// A phrase of up to this many words repeated at least this often, over at least this many
// words, at the end of a transcript: "sim sim sim" is speech, eight times "sim" is a loop.
constexpr std::size_t kLongestPhrase = 12;
constexpr std::size_t kLeastCopies = 4;
constexpr std::size_t kLeastRepeatedWords = 8;
// Fast speech is under 20 characters a second; a decoder that does not stop writes hundreds of
// characters (its limit is 220 tokens a window) whatever the audio's length.
constexpr double kMostCharactersPerSecond = 25;
constexpr double kCharacterAllowance = 50;
// Audio whose sound level nobody measured counts as speech from this length on.
constexpr double kShortestUnmeasuredSpeech = 1.0;

// The transcript's words, compared without their surrounding punctuation and case.
std::vector<std::string> words(std::string_view text) {
    std::vector<std::string> result;
    std::string word;
    auto flush = [&] {
        const auto isPunctuation = [](unsigned char c) { return std::ispunct(c) != 0; };
        auto first = std::find_if_not(word.begin(), word.end(), isPunctuation);
        auto last = std::find_if_not(word.rbegin(), word.rend(), isPunctuation).base();
        if (first < last)
            result.emplace_back(first, last);
        word.clear();
    };
    for (char c : text) {
        if (std::isspace(static_cast<unsigned char>(c))) {
            flush();
        } else {
            word.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
        }
    }
    flush();
    return result;
}

bool endsInRepetition(std::string_view text) {
    const auto all = words(text);
    const std::size_t count = all.size();
    for (std::size_t length = 1; length <= kLongestPhrase && length * kLeastCopies <= count;
         ++length) {
        // Copies of the last `length` words, counted backwards from the end.
        std::size_t copies = 1;
        while ((copies + 1) * length <= count &&
               std::equal(all.end() - length, all.end(), all.end() - (copies + 1) * length))
            ++copies;
        if (copies >= kLeastCopies && copies * length >= kLeastRepeatedWords)
            return true;
    }
    return false;
}

std::size_t characters(std::string_view text) {
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

}  // namespace

std::optional<int> audioContext(uint64_t samples, uint32_t sampleRate) {
    if (sampleRate == 0 || samples >= uint64_t{sampleRate} * (kFullWindow / kFramesPerSecond))
        return std::nullopt;
    const uint64_t frames = (samples * kFramesPerSecond + sampleRate - 1) / sampleRate;
    return static_cast<int>(std::min<uint64_t>(frames + kMargin, kFullWindow));
}

bool looksLikeFailure(std::string_view transcript, double seconds, std::optional<bool> hadSound) {
    if (transcript.find_first_not_of(" \t\r\n") == std::string_view::npos)
        return hadSound.value_or(seconds >= kShortestUnmeasuredSpeech);
    return static_cast<double>(characters(transcript)) >
               kMostCharactersPerSecond * seconds + kCharacterAllowance ||
           endsInRepetition(transcript);
}

}  // namespace quenda::shortwindow
