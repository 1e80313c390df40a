#include "platform/Uuid.h"

#include <uuid/uuid.h>

namespace quenda {

std::string makeUuidText() {
    uuid_t id;
    uuid_generate_random(id);
    char text[37];
    uuid_unparse_upper(id, text);
    return text;
}

}  // namespace quenda
