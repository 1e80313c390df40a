#include "app/LastTranscriptionFile.h"
#include "cli/Commands.h"

namespace quenda {

// Prints the saved last text; any words after "last" are ignored and it never fails.
std::string runLastCommand(const std::vector<std::string>&) {
    return LastTranscriptionFile::read().value_or("");
}

}  // namespace quenda
