// Kept apart from the text operations, so that only what prints texts (tests, tools) pulls in the
// stream library; the program does not.
#include <ostream>

#include "lookup/text.h"

namespace qinglan {

std::ostream& operator<<(std::ostream& out, const Text& text) {
    return out << text.bytes();
}

}  // namespace qinglan
