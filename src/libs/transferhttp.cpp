// The HTTP/1.1 half of the transfer engine: the request (GET, POST or a
// multipart upload), the status and header lines, redirects and the body.
#include <sys/time.h>

#include <cctype>
#include <cstdio>
#include <string>

#include "core/errcodes.h"
#include "core/errors.h"
#include "core/file.h"
#include "libs/base64.h"
#include "libs/network.h"
#include "libs/transfercall.h"
#include "libs/transferfields.h"
#include "libs/transferurl.h"

namespace {

constexpr int kMaxRedirects = 5;
constexpr size_t kStatusLineSize = 1024;
constexpr size_t kHeaderLineSize = 32768;
// A server may send header lines or interim answers without end; the
// section as a whole is bounded in bytes, answers and time.
constexpr size_t kHeaderSectionSize = 65536;
constexpr int kMaxInterimAnswers = 100;
// Details of faults that the status codes leave unnamed.
constexpr long kLongLineDetail = 1005;
constexpr long kLongHeaderDetail = 1006;
constexpr long kBadChunkDetail = 3000;
// The body total shown while a body without a length arrives.
constexpr int64_t kUnknownLengthTotal = 16384;

std::string BasicCredentials(const TransferUrl& url) {
    const std::string plain = url.user + ":" + url.password;
    std::string encoded(Base64EncodedSize(plain.size()), '\0');
    size_t n = 0;
    EncodeBase64(nullptr, nullptr, reinterpret_cast<uint8_t*>(encoded.data()),
                 reinterpret_cast<const uint8_t*>(plain.data()), plain.size(), &n, 1);
    encoded.resize(n);
    return encoded;
}

std::string HostHeader(const TransferUrl& url) {
    return url.port == 80 ? url.host : url.host + ":" + std::to_string(url.port);
}

// The delimiter of a multipart body, unique per call by the time it began.
std::string MakeBoundary() {
    timeval now{};
    gettimeofday(&now, nullptr);
    char text[64];
    std::snprintf(text, sizeof text, "-----------Quenbrook%.8lx%.8lx", static_cast<unsigned long>(now.tv_sec),
                  static_cast<unsigned long>(now.tv_usec));
    return text;
}

int ReadLine(TransferCall& call, qbConnection* c, size_t limit, std::string* text, qbNetClock* clock) {
    return TransferReadLine(call, c, limit, text, ERR_HTTPERROR, kLongLineDetail, clock);
}

// A line inside a chunked body: whole from its start, its bytes counted
// toward the body's floor, so that a body of tiny chunks ends at the floor
// as one trickled whole would.
int ReadBodyLine(TransferCall& call, qbConnection* c, std::string* text, qbNetClock* body) {
    NetClockBeginWhole(body);
    const int err = ReadLine(call, c, kStatusLineSize, text, body);
    NetClockEndWhole(body);
    return err;
}

// What the header section has used so far: the per-pause time-out alone
// never ends a server that keeps talking. Its time counts from the request
// sent, the status line and every partial line included.
struct HeaderBudget {
    size_t bytes = 0;
    int interimAnswers = 0;
    int64_t deadline = -1;
};

// One line of the status and header section, counted against the budget.
int ReadHeadLine(TransferCall& call, qbConnection* c, size_t limit, std::string* text, HeaderBudget& budget) {
    qbNetClock clock = NetClockStart(NetWaitWholeUntil(budget.deadline));
    if (int err = ReadLine(call, c, limit, text, &clock)) return err;
    budget.bytes += text->size() + 2;
    if (budget.bytes > kHeaderSectionSize) {
        SetErrorArgIndex(static_cast<int>(kLongHeaderDetail));
        return ERR_HTTPERROR;
    }
    return 0;
}

// The body after the headers: by length, chunked or until the peer closes.
int ReadHttpBody(TransferCall& call, qbConnection* c, const HttpHeaders& headers) {
    c->action = call.upload ? 1 : 0;
    c->progressCount = 0;
    // One clock for the whole body, however it is cut.
    qbNetClock body = NetClockStart(NetWaitBulk());
    if (headers.chunked) {
        c->progressTotal = 0;
        for (;;) {
            std::string line;
            if (int err = ReadBodyLine(call, c, &line, &body)) return err;
            uint64_t size = 0;
            if (!ParseChunkSize(line, &size)) {
                SetErrorArgIndex(kBadChunkDetail);
                return ERR_HTTPERROR;
            }
            if (size == 0) return 0;
            if (int err = TransferReceive(call, c, size, false, &body)) return err;
            std::string end;
            if (int err = ReadBodyLine(call, c, &end, &body)) return err;
        }
    }
    if (headers.hasLength) {
        c->progressTotal = static_cast<int64_t>(headers.length);
        return headers.length ? TransferReceive(call, c, headers.length, false, &body) : 0;
    }
    c->progressTotal = kUnknownLengthTotal;
    return TransferReceive(call, c, 0, true, &body);
}

// Where credentials are meant to go: scheme, host (in any letter case) and
// port of the script's URL.
bool SameOrigin(const TransferUrl& a, const TransferUrl& b) {
    if (a.scheme != b.scheme || a.port != b.port || a.host.size() != b.host.size()) return false;
    for (size_t i = 0; i < a.host.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a.host[i])) != std::tolower(static_cast<unsigned char>(b.host[i])))
            return false;
    return true;
}

// The request head and body; a redirected upload sends its parts again.
int SendRequest(TransferCall& call, qbConnection* c, const TransferUrl& target, const std::string& requestTarget,
                const std::string& customHeaders) {
    const TransferOptions& o = call.options;
    const bool post = o.hasPost || call.upload;
    std::string head = std::string(post ? "POST" : "GET") + " " + requestTarget + " HTTP/1.1\r\n";
    head += customHeaders;
    head += "TE: trailers\r\nConnection: close, TE\r\nHost: " + HostHeader(target) + "\r\nUser-Agent: " + o.userAgent +
            "\r\n";
    if (target.hasCredentials) head += "Authorization: Basic " + BasicCredentials(target) + "\r\n";
    std::string boundary;
    if (call.upload) {
        boundary = MakeBoundary();
        head += "Content-Type: multipart/form-data; boundary=" + boundary.substr(2) +
                "\r\nContent-Length: " + std::to_string(MultipartLength(call.parts, boundary)) + "\r\n";
    } else if (post) {
        head += "Content-Type: " + o.postType + "\r\nContent-Length: " + std::to_string(o.post.size()) + "\r\n";
    }
    head += "\r\n";
    if (o.hasPost) head += o.post + "\r\n";
    if (int err = TransferSendText(call, c, head)) return err;
    return call.upload ? SendMultipart(call, c, boundary) : 0;
}

}  // namespace

int HttpTransfer(TransferCall& call, std::string url) {
    const TransferOptions& o = call.options;
    TransferUrl origin;
    for (int redirects = 0;; ++redirects) {
        std::string encoded;
        if (int err = PercentEncodeUrl(url, o.encoded, &encoded)) return err;
        TransferUrl target;
        if (int err = ParseTransferUrl(o.encoded ? encoded : url, &target)) return err;
        TransferUrl request;
        if (int err = ParseTransferUrl(encoded, &request)) return err;
        if (target.scheme != TransferScheme::kHttp) return ERR_WRONGUSAGE;
        if (redirects == 0) origin = target;
        const std::string& requestTarget = o.hasProxy ? encoded : request.path;
        // An escaped URL or a Location keeps its bytes; a blank or control
        // byte in the request line would end the target early for a peer.
        const std::string* const fields[] = {&target.host, &request.host, &requestTarget};
        for (const std::string* text : fields)
            if (int err = CheckRequestTarget(*text)) return err;
        // Credentials the script gave stay with the origin it named.
        const std::string customHeaders =
            SameOrigin(origin, target) ? o.customHeaders : WithoutCredentialHeaders(o.customHeaders);
        TransferUrl via = target;
        if (o.hasProxy) {
            if (int err = ParseTransferUrl(o.proxy, &via)) return err == ERR_UNKPROTOCOL ? ERR_WRONGUSAGE : err;
            if (via.scheme != TransferScheme::kHttp) return ERR_WRONGUSAGE;
        }
        ConnectionPtr c;
        if (int err = TransferConnect(call, via.host, via.port, &c)) return err;
        // A stop by the callback while the body goes out ends the call there.
        if (int err = SendRequest(call, c.get(), target, requestTarget, customHeaders))
            return TransferKeepOnStop(call, c.get(), err);
        // The answer's head is bounded as a whole from the end of the
        // request: an upload's body takes what time it takes before it.
        HeaderBudget budget;
        budget.deadline = NetDeadlineFromNow();

        int status = 100;
        long detail = 0;
        std::string line;
        while (status == 100) {
            if (int err = ReadHeadLine(call, c.get(), kStatusLineSize, &line, budget)) return err;
            if (int err = ParseStatusLine(line, &status, &detail)) {
                SetErrorArgIndex(static_cast<int>(detail));
                return err;
            }
            if (status == 100) {
                if (++budget.interimAnswers > kMaxInterimAnswers) {
                    SetErrorArgIndex(static_cast<int>(kLongHeaderDetail));
                    return ERR_HTTPERROR;
                }
                do {
                    if (int err = ReadHeadLine(call, c.get(), kHeaderLineSize, &line, budget)) return err;
                } while (!line.empty());
            }
        }
        if (status == 401 && !target.hasCredentials) return ERR_REQAUTH;
        if (status == 404 && o.fail404) {
            SetErrorDetail(PercentDecode(request.path).c_str());
            return ERR_FILENOTFOUND;
        }
        HttpHeaders headers;
        for (;;) {
            if (int err = ReadHeadLine(call, c.get(), kHeaderLineSize, &line, budget)) return err;
            if (line.empty()) break;
            if (int err = ParseHeaderLine(line, &headers, &detail)) {
                SetErrorArgIndex(static_cast<int>(detail));
                return err;
            }
        }
        if (!headers.location.empty() && (status == 301 || status == 302) && o.redirect && redirects < kMaxRedirects) {
            url = ResolveLocation(url, headers.location);
            continue;
        }
        if ((status >= 100 && status <= 199) || status == 204 || status == 304) {
            SetErrorArgIndex(status);
            return ERR_HTTPERROR;
        }
        if (int err = TransferOpenTarget(call)) return err;
        return TransferKeepOnStop(call, c.get(), ReadHttpBody(call, c.get(), headers));
    }
}
