#pragma once

#include <string_view>

namespace quenda {

// Speech models trained on subtitles fill silence with the subtitlers' credit ("Legendas pela
// comunidade Amara.org" and its variants in Portuguese, Spanish and English). True when
// `transcript` is nothing but such credits (and punctuation), so it can be treated as empty.
// A transcript with any other word is kept whole.
bool isOnlySubtitleCredit(std::string_view transcript);

}  // namespace quenda
