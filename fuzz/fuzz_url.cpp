// Fuzz target of URL handling: percent-encoding in both modes, splitting,
// and the resolution of a Location against the URL. A split URL must never
// carry a byte that would inject a header line or an FTP command.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzznote.h"
#include "libs/transferurl.h"

namespace {

// Notes the split's code and every part of the URL it gives.
void Check(const std::string& url) {
    TransferUrl parsed;
    const int err = ParseTransferUrl(url, &parsed);
    FuzzNoteValue(err);
    if (err != 0) return;
    for (const std::string* field : {&parsed.user, &parsed.password, &parsed.host, &parsed.path})
        if (field->find_first_of(std::string("\r\n\0", 3)) != std::string::npos) __builtin_trap();
    if (parsed.port < 1 || parsed.port > 65535 || parsed.user.size() > 255 || parsed.path.empty()) __builtin_trap();
    FuzzNoteValue(static_cast<int>(parsed.scheme));
    FuzzNoteText(parsed.user);
    FuzzNoteText(parsed.password);
    FuzzNoteValue(parsed.hasCredentials);
    FuzzNoteText(parsed.host);
    FuzzNoteValue(parsed.port);
    FuzzNoteText(parsed.path);
    FuzzNoteValue(parsed.ftpType);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const size_t split = input.find('\n');
    const std::string url = input.substr(0, split);
    for (bool encoded : {false, true}) {
        std::string out;
        const int err = PercentEncodeUrl(url, encoded, &out);
        FuzzNoteValue(err);
        if (err != 0) continue;
        if (out.size() > url.size() * 3) __builtin_trap();
        FuzzNoteText(out);
        Check(out);
    }
    Check(url);
    FuzzNoteText(PercentDecode(url));
    if (split != std::string::npos) {
        const std::string resolved = ResolveLocation(url, input.substr(split + 1));
        FuzzNoteText(resolved);
        Check(resolved);
    }
    return 0;
}
