// The FTP half of the transfer engine: log in, passive mode, TYPE, then RETR
// or STOR over a data connection. The data connection always goes to the
// control connection's peer; a server names only the port.
#include <arpa/inet.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include "core/errcodes.h"
#include "core/errors.h"
#include "core/file.h"
#include "libs/network.h"
#include "libs/transfercall.h"
#include "libs/transferurl.h"

namespace {

constexpr size_t kReplyLineSize = 1024;
// Details of ERR_FTPERROR: an unexpected reply, a continuation line of
// another code, a PASV reply that names no valid port.
constexpr long kUnexpectedReply = 0;
constexpr long kBadContinuation = 1;
constexpr long kBadPasv = 2;
// A reply of more lines than this is no reply this engine waits out.
constexpr int kMaxReplyLines = 1000;
constexpr const char* kAnonymousUser = "anonymous";
constexpr const char* kAnonymousPassword = "anonymous@quenbrook.net";

int FtpError(long detail) {
    SetErrorArgIndex(static_cast<int>(detail));
    return ERR_FTPERROR;
}

struct Reply {
    int code = -1;
    std::string last;  // the reply's last line
    // The size of the data a line of it names ("(1234 bytes)"), the last
    // such line's; 0 when none does.
    uint64_t size = 0;
};

// A reply is bounded as a whole, its continuation lines included: a
// server that sends them slowly without end cannot hold the call.
int ReadReply(TransferCall& call, qbConnection* c, Reply* reply) {
    qbNetClock clock = NetClockStart(NetWaitWhole());
    reply->size = 0;
    for (int lines = 0; lines == 0 || FtpReplyContinues(reply->last); ++lines) {
        if (lines == kMaxReplyLines) return FtpError(kBadContinuation);
        if (int err =
                TransferReadLine(call, c, kReplyLineSize, &reply->last, ERR_FTPERROR, kUnexpectedReply, &clock))
            return err;
        if (lines == 0) reply->code = FtpReplyCode(reply->last);
        else if (FtpReplyCode(reply->last) != reply->code) return FtpError(kBadContinuation);
        if (const uint64_t size = ParseFtpSize(reply->last)) reply->size = size;
    }
    return 0;
}

int Command(TransferCall& call, qbConnection* c, const std::string& command, Reply* reply) {
    if (int err = TransferSendText(call, c, command + "\r\n")) return err;
    return ReadReply(call, c, reply);
}

bool Positive(const Reply& r) { return r.code >= 200 && r.code <= 299; }

// The dotted address the control connection reached.
std::string PeerAddress(const qbConnection* c) {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    char text[INET_ADDRSTRLEN] = {};
    if (getpeername(c->socket.fd, reinterpret_cast<sockaddr*>(&a), &len) != 0 || a.sin_family != AF_INET ||
        !inet_ntop(AF_INET, &a.sin_addr, text, sizeof text))
        return {};
    return text;
}

int Login(TransferCall& call, qbConnection* control, const TransferUrl& url) {
    Reply r;
    if (int err = ReadReply(call, control, &r)) return err;
    if (r.code >= 100 && r.code <= 199)
        if (int err = ReadReply(call, control, &r)) return err;
    if (!Positive(r)) return FtpError(kUnexpectedReply);
    const std::string user = url.hasCredentials ? url.user : kAnonymousUser;
    if (int err = Command(call, control, "user " + user, &r)) return err;
    if (r.code == 331) {
        const std::string password = url.hasCredentials ? url.password : kAnonymousPassword;
        if (int err = Command(call, control, "pass " + password, &r)) return err;
        if (r.code == 530) return ERR_FTPAUTH;
    }
    return Positive(r) ? 0 : FtpError(kUnexpectedReply);
}

// Moves the data of an upload or a download; a stop by the callback ends
// the call normally.
int MoveData(TransferCall& call, qbConnection* data, uint64_t size) {
    data->action = 0;
    data->progressCount = 0;
    int err = 0;
    if (call.upload) {
        data->progressTotal = static_cast<int64_t>(call.source ? call.sourceSize : 0);
        err = call.source ? TransferSendFile(call, data, call.source.get(), call.sourceSize)
                          : NetSendAll(call.L, data, call.options.data.data(), call.options.data.size());
    } else {
        data->progressTotal = static_cast<int64_t>(std::min<uint64_t>(size, INT64_MAX));
        qbNetClock clock = NetClockStart(NetWaitBulk());
        const size_t before = call.count;
        err = TransferReceive(call, data, 0, true, &clock);
        // The close ends the data, but a server that announced a size and
        // closed short of it lost the rest: that is no whole file.
        if (!err && size > 0 && call.count - before < size) err = ERR_RECVCLOSED;
    }
    return err;
}

}  // namespace

int FtpTransfer(TransferCall& call, const std::string& url) {
    const TransferOptions& o = call.options;
    if (o.hasProxy) return ERR_WRONGUSAGE;
    std::string encoded;
    if (int err = PercentEncodeUrl(url, o.encoded, &encoded)) return err;
    TransferUrl target;
    if (int err = ParseTransferUrl(o.encoded ? encoded : url, &target)) return err;
    TransferUrl request;
    if (int err = ParseTransferUrl(encoded, &request)) return err;
    // FTP servers take a path literally; a decoded CR or LF would end the
    // command and start another.
    const std::string path = PercentDecode(request.path);
    if (path.find_first_of(std::string("\r\n\0", 3)) != std::string::npos) return ERR_BADURL;
    const char type = target.ftpType ? target.ftpType : (o.mode == kFtpAscii ? 'a' : 'i');

    ConnectionPtr control;
    if (int err = TransferConnect(call, target.host, target.port, &control)) return err;
    if (int err = Login(call, control.get(), target)) return err;
    Reply r;
    if (int err = Command(call, control.get(), "pasv", &r)) return err;
    if (!Positive(r)) return FtpError(kUnexpectedReply);
    int port = 0;
    if (!ParsePasvReply(r.last, &port)) return FtpError(kBadPasv);
    const std::string host = PeerAddress(control.get());
    if (host.empty()) return FtpError(kBadPasv);
    ConnectionPtr data;
    if (int err = TransferConnect(call, host, port, &data)) return err;
    if (int err = Command(call, control.get(), std::string("type ") + type, &r)) return err;
    if (r.code != 200) return FtpError(kUnexpectedReply);
    if (int err = Command(call, control.get(), (call.upload ? "stor " : "retr ") + path, &r)) return err;
    if (r.code < 100 || r.code >= 300) {
        if (r.code != 550) return FtpError(kUnexpectedReply);
        SetErrorDetail(path.c_str());
        return call.upload ? ERR_UPLOADFORBIDDEN : ERR_FILENOTFOUND;
    }
    const bool preliminary = r.code <= 199;
    if (!call.upload)
        if (int err = TransferOpenTarget(call)) return err;
    // The size the server announced, on whichever line of its opening
    // reply (150, or 125 on a connection already open), is what a whole
    // download holds.
    const int moved = MoveData(call, data.get(), r.code == 150 || r.code == 125 ? r.size : 0);
    if (moved == ERR_USERABORT) return TransferKeepOnStop(call, data.get(), moved);
    if (moved) return moved;
    // The close ends an upload's data; the final reply then tells whether
    // the server stored it all.
    data.reset();
    if (preliminary) {
        if (int err = ReadReply(call, control.get(), &r)) return err;
        if (!Positive(r)) return FtpError(kUnexpectedReply);
    }
    // The server may hang up at once; its answer to QUIT changes nothing.
    (void)TransferSendText(call, control.get(), "quit\r\n");
    return 0;
}
