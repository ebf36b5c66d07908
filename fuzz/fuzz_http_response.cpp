// Fuzz target of the HTTP reply parsers: the input's lines are a status line,
// header lines and chunk-size lines as a peer might send them.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/errcodes.h"
#include "fuzznote.h"
#include "libs/transferurl.h"

namespace {

void NoteHeaders(const HttpHeaders &h) {
  FuzzNoteValue(h.hasLength);
  FuzzNoteValue(static_cast<int64_t>(h.length));
  FuzzNoteValue(h.chunked);
  FuzzNoteText(h.location);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string_view input(reinterpret_cast<const char *>(data), size);
  int status = 0;
  long detail = 0;
  HttpHeaders headers;
  bool first = true;
  while (!input.empty()) {
    const size_t end = input.find('\n');
    const std::string_view line = input.substr(0, end);
    input.remove_prefix(end == std::string_view::npos ? input.size() : end + 1);
    if (first) {
      const int err = ParseStatusLine(line, &status, &detail);
      if (err != 0 && (err != ERR_HTTPERROR || detail < 1001 || detail > 1003))
        __builtin_trap();
      FuzzNoteValue(err);
      FuzzNoteValue(status);
      FuzzNoteValue(detail);
      first = false;
      continue;
    }
    // Per header line: its code and detail, the headers folded so far and
    // the chunk size the line would give (-1 for none).
    const int err = ParseHeaderLine(line, &headers, &detail);
    if (err != 0 && err != ERR_HTTPERROR && err != ERR_HTTPTE)
      __builtin_trap();
    FuzzNoteValue(err);
    FuzzNoteValue(detail);
    NoteHeaders(headers);
    uint64_t chunk = 0;
    FuzzNoteValue(ParseChunkSize(line, &chunk) ? static_cast<int64_t>(chunk) : -1);
  }
  return 0;
}
