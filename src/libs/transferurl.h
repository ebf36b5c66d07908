// URLs and peer replies of the transfer engine, as pure functions so that
// they can be tested and fuzzed without sockets. Every number a peer sends
// is parsed in checked 64-bit arithmetic: a hostile size must end in an
// error code, never in a short allocation.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

enum class TransferScheme { kHttp, kFtp };

struct TransferUrl {
    TransferScheme scheme = TransferScheme::kHttp;
    std::string user;  // empty when the URL has no credentials
    std::string password;
    bool hasCredentials = false;
    std::string host;
    int port = 80;
    std::string path;  // from the first "/" on, as in the URL
    char ftpType = 0;  // 'i' or 'a' from a ";type=" suffix, else 0
};

// Percent-encodes a URL; with alreadyEncoded, escapes are decoded unless the
// byte they stand for needs escaping. 0, or ERR_WRONGUSAGE for a "%" without
// hex digits.
int PercentEncodeUrl(std::string_view url, bool alreadyEncoded, std::string* out);
// Decodes every "%hh" (FTP servers take paths literally).
std::string PercentDecode(std::string_view text);

// Splits a URL. ERR_UNKPROTOCOL for a scheme other than http or ftp,
// ERR_BADURL for bad credentials, ports or control bytes.
int ParseTransferUrl(std::string_view url, TransferUrl* out);
// The URL a Location value names, resolved against the current URL.
std::string ResolveLocation(std::string_view current, std::string_view location);

// The status line: 0 and the code, or ERR_HTTPERROR with *detail 1001
// (no "HTTP/"), 1002 (no version) or 1003 (no blank).
int ParseStatusLine(std::string_view line, int* status, long* detail);

struct HttpHeaders {
    bool hasLength = false;
    uint64_t length = 0;
    bool chunked = false;
    std::string location;
};
// Folds one header line into h: 0, ERR_HTTPTE for an unknown transfer
// coding, or ERR_HTTPERROR (detail 1004) for a bad Content-Length.
int ParseHeaderLine(std::string_view line, HttpHeaders* h, long* detail);
// The leading hex number of a chunk-size line; false when there is none or
// it does not fit 64 bits.
bool ParseChunkSize(std::string_view line, uint64_t* size);

// FTP replies: the leading code (-1 for none), and whether the line opens a
// multi-line reply.
int FtpReplyCode(std::string_view line);
bool FtpReplyContinues(std::string_view line);
// The port of a PASV reply; false unless exactly six numbers of 0-255 give a
// port of 1-65535. Only the port is used: the data connection goes to the
// control connection's peer.
bool ParsePasvReply(std::string_view line, int* port);
// The size in "(n bytes)" of a 150 reply, 0 when there is none.
uint64_t ParseFtpSize(std::string_view line);
