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
// A request target (its path and query, the whole URL with its user part
// through a proxy) or a host: 0, or ERR_WRONGUSAGE for any byte below 0x21
// and DEL. An escaped URL or a Location passes its bytes on as they are, and
// a peer may take a vertical tab or form feed for the blank that ends the
// target. Bytes above 0x7F pass: they are parts of UTF-8 characters.
int CheckRequestTarget(std::string_view text);
// Whether a custom header line carries credentials (Authorization,
// Proxy-Authorization, Cookie, in any letter case).
bool IsCredentialHeader(std::string_view line);
// The custom header lines (whole CR LF lines, as TakeCustomHeaders leaves
// them) without those that carry credentials: what a redirect to another
// origin sends, as the credentials were meant for the first one only.
std::string WithoutCredentialHeaders(const std::string& lines);
// A name or file name inside a form-data part's quoted parameter: the
// quote, CR and LF percent-escaped, as browsers send them.
std::string FormDataQuoted(std::string_view text);
