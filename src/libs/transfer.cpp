// The transfer engine. A call owns everything it opens (connections, the
// target file) through RAII records, so every error path frees them.
#include "libs/transfer.h"

#include <sys/time.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/errcodes.h"
#include "core/errors.h"
#include "core/file.h"
#include "display/eventlib.h"
#include "libs/base64.h"
#include "libs/network.h"
#include "libs/transferurl.h"
#include "vm/vm.h"

namespace {

constexpr int kFtpBinary = 105;
constexpr int kFtpAscii = 97;
constexpr int kMaxRedirects = 5;
constexpr size_t kStatusLineSize = 1024;
constexpr size_t kHeaderLineSize = 32768;
// The stack slots of the callback and its userdata in a command's frame.
constexpr int kCallbackSlot = 3;
constexpr int kUserdataSlot = 4;
// Details of header faults that the status codes leave unnamed.
constexpr long kLongLineDetail = 1005;
constexpr long kBadChunkDetail = 3000;

// Set by the progress hook when the script's callback asked to stop.
bool callbackStopped = false;

int CallProgress(ScriptState* L, qbConnection* c) {
    VmPushValue(L, c->progressCallback);
    VmPushNewTable(L);
    SetTableFieldInt(L, "action", c->action);
    SetTableFieldFloat(L, "count", static_cast<double>(c->progressCount));
    SetTableFieldFloat(L, "total", static_cast<double>(c->progressTotal));
    if (c->userdata) {
        VmPushString(L, "userdata");
        VmPushValue(L, c->userdata);
        VmRawSet(L, -3);
    }
    if (int err = VmPCall(L, 1, 1, 0)) return err;
    const bool stop = VmToBoolean(L, -1) != 0;
    VmSetTop(L, -2);
    if (stop || EventQuitRequested()) {
        callbackStopped = stop;
        return ERR_USERABORT;
    }
    return 0;
}

struct ConnectionCloser {
    void operator()(qbConnection* c) const {
        SocketDestroy(&c->socket.fd);
        delete c;
    }
};
using ConnectionPtr = std::unique_ptr<qbConnection, ConnectionCloser>;

struct Options {
    int mode = kFtpBinary;
    bool hasFile = false;
    std::string file;
    bool encoded = false;
    bool silentFail = false;
    bool fail404 = false;
    bool redirect = true;
    bool hasProxy = false;
    std::string proxy;
    std::string customHeaders;
    bool hasPost = false;
    std::string post;
    std::string postType = "application/x-www-form-urlencoded";
    std::string userAgent = "Quenbrook 6.1";
    bool hasData = false;
    std::string data;
};

// One string field: true when present; another kind is ERR_STRINGEXPECTED.
int StringField(ScriptState* L, const char* key, std::string* out, bool* present) {
    VmPushString(L, key);
    VmGetTableAt(L, 2);
    *present = false;
    int err = 0;
    if (VmType(L, -1) == kTypeString || VmType(L, -1) == kTypeNumber) {
        *out = std::string(VmToCString(L, -1), VmStrLen(L, -1));
        *present = true;
    } else if (VmType(L, -1) != kTypeNil) {
        SetErrorDetail(key);
        err = ERR_STRINGEXPECTED;
    }
    VmSetTop(L, -2);
    return err;
}

bool BoolField(ScriptState* L, const char* key, bool def) {
    VmPushString(L, key);
    VmGetTableAt(L, 2);
    const bool value = VmType(L, -1) == kTypeNil ? def : VmToBoolean(L, -1) != 0;
    VmSetTop(L, -2);
    return value;
}

int ReadOptions(ScriptState* L, bool upload, Options* o) {
    if (VmGetTop(L) < 2 || VmType(L, 2) == kTypeNil) return upload ? ERR_WRONGUSAGE : 0;
    if (VmType(L, 2) != kTypeTable) return ERR_TABEXPECTED;
    VmPushString(L, "transfermode");
    VmGetTableAt(L, 2);
    if (VmType(L, -1) != kTypeNil) o->mode = static_cast<int>(VmToNumber(L, -1));
    VmSetTop(L, -2);
    if (o->mode != kFtpBinary && o->mode != kFtpAscii) return ERR_WRONGUSAGE;
    bool present = false;
    if (int err = StringField(L, "file", &o->file, &o->hasFile)) return err;
    if (int err = StringField(L, "proxy", &o->proxy, &o->hasProxy)) return err;
    if (int err = StringField(L, "customheaders", &o->customHeaders, &present)) return err;
    o->encoded = BoolField(L, "encoded", false);
    o->silentFail = BoolField(L, "silentfail", false);
    if (upload) {
        if (int err = StringField(L, "data", &o->data, &o->hasData)) return err;
        if (o->hasData && (o->hasFile || o->data.empty())) return ERR_WRONGUSAGE;
    } else {
        o->fail404 = BoolField(L, "fail404", false);
        o->redirect = BoolField(L, "redirect", true);
        if (int err = StringField(L, "post", &o->post, &o->hasPost)) return err;
        if (o->hasPost && o->post.empty()) return ERR_WRONGUSAGE;
        if (int err = StringField(L, "posttype", &o->postType, &present)) return err;
        if (int err = StringField(L, "useragent", &o->userAgent, &present)) return err;
    }
    return 0;
}

struct Call {
    ScriptState* L = nullptr;
    bool upload = false;
    Options options;
    bool hasCallback = false;
    bool hasUserdata = false;
    qbFilePtr target;
    std::vector<uint8_t> block;  // the result in memory
    std::vector<uint8_t> line;   // room for one received line, reused
    size_t used = 0;
    size_t count = 0;
};

// A connection to host:port outside the connection list, so that the event
// dispatcher never sees it.
int Connect(Call& call, const std::string& host, int port, ConnectionPtr* out) {
    ConnectionPtr c(new qbConnection());
    InitTcpSocket(&c->socket, -1, -1);
    if (int err = ConnectTcp(call.L, host.c_str(), port, &c->socket)) return err;
    c->dataReported = 1;
    c->closedReported = 1;
    c->progressCallback = call.hasCallback ? kCallbackSlot : 0;
    c->userdata = call.hasUserdata ? kUserdataSlot : 0;
    *out = std::move(c);
    return 0;
}

// One line into text (CRs dropped); a longer line than limit is an HTTP
// error, as a line of that size is no answer this engine would accept.
int ReadLine(Call& call, qbConnection* c, size_t limit, std::string* text) {
    if (call.line.size() < limit) call.line.resize(limit);
    qbNetSink sink;
    sink.kind = NetSinkKind::kBlock;
    sink.block = call.line.data();
    sink.blockSize = limit;
    const int32_t saved = c->progressCallback;
    c->progressCallback = 0;
    size_t count = 0;
    int result = 0;
    int err = NetReceive(call.L, c, kReceiveLine, 0, true, sink, &count, &result);
    c->progressCallback = saved;
    if (err == ERR_MEM) {
        SetErrorArgIndex(kLongLineDetail);
        return ERR_HTTPERROR;
    }
    if (err) return err;
    text->assign(reinterpret_cast<const char*>(call.line.data()), sink.used);
    return 0;
}

// Receives into the call's target: want bytes, or everything until the
// peer closes when untilClose is set.
int ReceiveBody(Call& call, qbConnection* c, uint64_t want, bool untilClose) {
    qbNetSink sink;
    if (call.target) {
        sink.kind = NetSinkKind::kFile;
        sink.file = call.target.get();
    } else {
        sink.kind = NetSinkKind::kGrowBlock;
        sink.grow = &call.block;
        sink.used = call.used;
    }
    size_t count = 0;
    int result = 0;
    const int err = NetReceive(call.L, c, untilClose ? kReceiveAll : kReceiveBytes, static_cast<size_t>(want), true,
                               sink, &count, &result);
    if (!call.target) call.used = sink.used;
    call.count += count;
    if (untilClose && err == ERR_RECVCLOSED) return 0;
    return err;
}

int SendText(Call& call, qbConnection* c, const std::string& text) {
    const int32_t saved = c->progressCallback;
    c->progressCallback = 0;
    const int err = NetSendAll(call.L, c, text.data(), text.size());
    c->progressCallback = saved;
    return err;
}

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

// The body after the headers: by length, chunked or until the peer closes.
int ReadHttpBody(Call& call, qbConnection* c, const HttpHeaders& headers) {
    c->action = call.upload ? kUploadFileResponse : kDownloadFileStatus;
    c->progressCount = 0;
    if (headers.chunked) {
        c->progressTotal = 0;
        for (;;) {
            std::string line;
            if (int err = ReadLine(call, c, kStatusLineSize, &line)) return err;
            uint64_t size = 0;
            if (!ParseChunkSize(line, &size)) {
                SetErrorArgIndex(kBadChunkDetail);
                return ERR_HTTPERROR;
            }
            if (size == 0) return 0;
            if (int err = ReceiveBody(call, c, size, false)) return err;
            std::string end;
            if (int err = ReadLine(call, c, kStatusLineSize, &end)) return err;
        }
    }
    if (headers.hasLength) {
        c->progressTotal = static_cast<int64_t>(headers.length);
        return headers.length ? ReceiveBody(call, c, headers.length, false) : 0;
    }
    c->progressTotal = 16384;
    return ReceiveBody(call, c, 0, true);
}

int HttpTransfer(Call& call, std::string url) {
    const Options& o = call.options;
    for (int redirects = 0;; ++redirects) {
        std::string encoded;
        if (int err = PercentEncodeUrl(url, o.encoded, &encoded)) return err;
        TransferUrl target;
        if (int err = ParseTransferUrl(o.encoded ? encoded : url, &target)) return err;
        TransferUrl request;
        if (int err = ParseTransferUrl(encoded, &request)) return err;
        if (target.scheme != TransferScheme::kHttp) return ERR_WRONGUSAGE;
        TransferUrl via = target;
        if (o.hasProxy) {
            if (int err = ParseTransferUrl(o.proxy, &via)) return err == ERR_UNKPROTOCOL ? ERR_WRONGUSAGE : err;
            if (via.scheme != TransferScheme::kHttp) return ERR_WRONGUSAGE;
        }
        ConnectionPtr c;
        if (int err = Connect(call, via.host, via.port, &c)) return err;
        const bool post = o.hasPost;
        std::string head =
            std::string(post ? "POST" : "GET") + " " + (o.hasProxy ? encoded : request.path) + " HTTP/1.1\r\n";
        head += o.customHeaders;
        head += "TE: trailers\r\nConnection: close, TE\r\nHost: " + HostHeader(target) +
                "\r\nUser-Agent: " + o.userAgent + "\r\n";
        if (target.hasCredentials) head += "Authorization: Basic " + BasicCredentials(target) + "\r\n";
        if (post)
            head += "Content-Type: " + o.postType + "\r\nContent-Length: " + std::to_string(o.post.size()) + "\r\n";
        head += "\r\n";
        if (post) head += o.post + "\r\n";
        if (int err = SendText(call, c.get(), head)) return err;

        int status = 100;
        long detail = 0;
        std::string line;
        while (status == 100) {
            if (int err = ReadLine(call, c.get(), kStatusLineSize, &line)) return err;
            if (int err = ParseStatusLine(line, &status, &detail)) {
                SetErrorArgIndex(static_cast<int>(detail));
                return err;
            }
            if (status == 100) {
                do {
                    if (int err = ReadLine(call, c.get(), kHeaderLineSize, &line)) return err;
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
            if (int err = ReadLine(call, c.get(), kHeaderLineSize, &line)) return err;
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
        if (o.hasFile) {
            call.target.reset(FileOpen(o.file.c_str(), kFileModeWrite, nullptr));
            if (!call.target) {
                SetErrorDetail(o.file.c_str());
                return ERR_WRITEFILE;
            }
        }
        const int err = ReadHttpBody(call, c.get(), headers);
        if (err == ERR_USERABORT && callbackStopped && !EventQuitRequested()) {
            call.count = static_cast<size_t>(c->progressCount);
            return 0;
        }
        return err;
    }
}

int Transfer(ScriptState* L, bool upload) {
    Call call;
    call.L = L;
    call.upload = upload;
    callbackStopped = false;
    if (EnsureSocketLayer() != 0) return ERR_OPENSOCKET;
    if (VmType(L, 1) != kTypeString) return ERR_STRINGEXPECTED;
    const std::string url(VmToCString(L, 1), VmStrLen(L, 1));
    int err = ReadOptions(L, upload, &call.options);
    if (!err && VmGetTop(L) >= kCallbackSlot && VmType(L, kCallbackSlot) != kTypeNil) {
        if (VmType(L, kCallbackSlot) != kTypeFunction) err = ERR_FUNCEXPECTED;
        call.hasCallback = true;
        call.hasUserdata = VmGetTop(L) >= kUserdataSlot;
    }
    if (!err) {
        TransferUrl parsed;
        err = ParseTransferUrl(url, &parsed);
        if (!err && parsed.scheme == TransferScheme::kFtp) {
            // The FTP half of the engine is not built yet.
            err = ERR_UNKPROTOCOL;
        } else if (!err && upload) {
            err = ERR_WRONGUSAGE;
        } else if (!err) {
            err = HttpTransfer(call, url);
        }
    }
    if (call.target) {
        const int closed = FileClose(call.target.release());
        if (!err && !closed) err = ERR_CLOSEFILE;
    }
    if (err) {
        if (!call.options.silentFail || err == ERR_USERABORT) return err;
        char text[kErrorTextSize];
        GetErrorText(err, text);
        VmPushString(L, text);
        VmPushNumber(L, -1);
        return 2;
    }
    if (call.options.hasFile)
        VmPushString(L, "");
    else
        VmPushLString(L, reinterpret_cast<const char*>(call.block.data()), call.used);
    VmPushNumber(L, static_cast<double>(call.count));
    return 2;
}

}  // namespace

int cmdDownloadFile(ScriptState* L) { return Transfer(L, false); }
int cmdUploadFile(ScriptState* L) { return Transfer(L, true); }
void InitTransferEngine() { SetNetProgressHook(CallProgress); }
