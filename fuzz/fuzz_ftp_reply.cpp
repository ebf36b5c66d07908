// Fuzz target of the FTP reply parsers: codes, continuation lines, PASV
// numbers and the size of a 150 reply.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzznote.h"
#include "libs/transferurl.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string_view input(reinterpret_cast<const char *>(data), size);
  while (!input.empty()) {
    const size_t end = input.find('\n');
    const std::string_view line = input.substr(0, end);
    input.remove_prefix(end == std::string_view::npos ? input.size() : end + 1);
    // Per line: its code, whether it continues, the PASV port (0 when none)
    // and the 150 size.
    FuzzNoteValue(FtpReplyCode(line));
    const bool continues = FtpReplyContinues(line);
    FuzzNoteValue(continues);
    if (continues && line.size() < 4)
      __builtin_trap();
    int port = 0;
    const bool pasv = ParsePasvReply(line, &port);
    if (pasv && (port < 1 || port > 65535))
      __builtin_trap();
    FuzzNoteValue(pasv ? port : 0);
    FuzzNoteValue(static_cast<int64_t>(ParseFtpSize(line)));
  }
  return 0;
}
