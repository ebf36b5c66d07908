// Fuzz target of URL handling: percent-encoding in both modes, splitting,
// and the resolution of a Location against the URL. A split URL must never
// carry a byte that would inject a header line or an FTP command.
#include <cstddef>
#include <cstdint>
#include <string>

#include "libs/transferurl.h"

namespace {

void Check(const std::string& url) {
    TransferUrl parsed;
    if (ParseTransferUrl(url, &parsed) != 0) return;
    for (const std::string* field : {&parsed.user, &parsed.password, &parsed.host, &parsed.path})
        if (field->find_first_of(std::string("\r\n\0", 3)) != std::string::npos) __builtin_trap();
    if (parsed.port < 1 || parsed.port > 65535 || parsed.user.size() > 255 || parsed.path.empty()) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const size_t split = input.find('\n');
    const std::string url = input.substr(0, split);
    for (bool encoded : {false, true}) {
        std::string out;
        if (PercentEncodeUrl(url, encoded, &out) != 0) continue;
        if (out.size() > url.size() * 3) __builtin_trap();
        Check(out);
    }
    Check(url);
    (void)PercentDecode(url);
    if (split != std::string::npos) Check(ResolveLocation(url, input.substr(split + 1)));
    return 0;
}
