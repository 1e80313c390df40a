#pragma once

#include <string>

namespace quenda {

// A new random UUID in canonical upper-case text ("1B4E28BA-2FA1-11D2-883F-0016D3CCA427").
std::string makeUuidText();

}  // namespace quenda
