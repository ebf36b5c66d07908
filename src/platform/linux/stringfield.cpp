// What a string requester's field takes as it is typed into: a change is
// taken whole or refused whole, never cut to fit.
#include <cstring>

#include "core/chars.h"
#include "platform/linux/requesters_linux.h"
#include "platform/requesterrules.h"

namespace linux_requesters {

namespace {

// The byte offset of a character position in UTF-8 text (its end when the
// text is shorter).
size_t Utf8Offset(std::string_view text, int position) {
    size_t at = 0;
    for (int n = 0; n < position && at < text.size(); ++n) {
        ++at;
        while (at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) ++at;
    }
    return at;
}

}  // namespace

bool StringFieldTakesInsert(const char* current, int position, std::string_view inserted, int type, int maxLength) {
    const std::string_view before = current ? current : "";
    const size_t at = Utf8Offset(before, position < 0 ? static_cast<int>(before.size()) : position);
    std::string next(before.substr(0, at));
    next += inserted;
    next += before.substr(at);
    std::string latin1;
    return TryUTF8ToLatin1(next.c_str(), latin1) && StringFieldAccepts(latin1, type, maxLength);
}

}  // namespace linux_requesters
