// Script-given text that goes into an HTTP request's head. Each field is
// checked before the engine connects: a CR or LF in a value would end its
// header line and start one the script never meant, a NUL cuts it where the
// peer reads it, and a blank in the request line splits the target.
#pragma once

#include <string>
#include <string_view>

// A header value or a form part's name, alias or type: 0, or
// ERR_WRONGUSAGE for a CR, LF or NUL in it.
int CheckHeaderValue(std::string_view value);
// The custom header lines, sent as they are, each ending in CR LF: a missing
// final CR LF is added. ERR_WRONGUSAGE for a NUL, a CR or LF that does not
// close a line, or an empty line (it would end the head).
int TakeCustomHeaders(std::string* lines);
// A request target's host or path: 0, or ERR_WRONGUSAGE for a space or tab
// (an escaped URL passes its blanks on as they are).
int CheckRequestTarget(std::string_view text);
// A name or file name inside a form-data part's quoted parameter: the
// quote, CR and LF percent-escaped, as browsers send them.
std::string FormDataQuoted(std::string_view text);
