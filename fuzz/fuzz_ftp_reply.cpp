// Fuzz target of the FTP reply parsers: codes, continuation lines, PASV
// numbers and the size of a 150 reply.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "libs/transferurl.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string_view input(reinterpret_cast<const char *>(data), size);
  while (!input.empty()) {
    const size_t end = input.find('\n');
    const std::string_view line = input.substr(0, end);
    input.remove_prefix(end == std::string_view::npos ? input.size() : end + 1);
    (void)FtpReplyCode(line);
    if (FtpReplyContinues(line) && line.size() < 4)
      __builtin_trap();
    int port = 0;
    if (ParsePasvReply(line, &port) && (port < 1 || port > 65535))
      __builtin_trap();
    (void)ParseFtpSize(line);
  }
  return 0;
}
