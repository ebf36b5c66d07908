// What one DownloadFile or UploadFile call holds, shared by the engine's
// HTTP and FTP halves. Everything here lives only as long as the call.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/file.h"
#include "core/replacefile.h"
#include "libs/network.h"
#include "vm/stringblock.h"

struct ScriptState;

constexpr int kFtpBinary = 105;
constexpr int kFtpAscii = 97;
// Files and bodies leave in pieces of this size.
constexpr size_t kTransferPiece = 8192;

struct ConnectionCloser {
    void operator()(qbConnection* c) const {
        SocketDestroy(&c->socket.fd);
        delete c;
    }
};
using ConnectionPtr = std::unique_ptr<qbConnection, ConnectionCloser>;

struct TransferOptions {
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

// One part of a multipart upload: inline data or an open file.
struct FormPart {
    std::string name;
    std::string mimeType;  // empty: the part has no filename line
    std::string fileName;
    std::string data;
    qbFilePtr file;
    uint64_t size = 0;
};

struct TransferCall {
    ScriptState* L = nullptr;
    bool upload = false;
    TransferOptions options;
    bool hasCallback = false;
    bool hasUserdata = false;
    // "file" of a download: a new file that takes the old one's place only
    // once the download is complete, so a failed one leaves the old file.
    qbReplaceFile target;
    // The target's descriptor when it is a FIFO or device, made
    // non-blocking so that the time-out bounds its writes; -1 otherwise.
    int targetWaitless = -1;
    qbFilePtr source;  // "file" of an FTP upload
    uint64_t sourceSize = 0;
    std::vector<FormPart> parts;  // "formdata" of an HTTP upload
    // The result in memory: the VM's string header, then the bytes, so that
    // the block becomes the script's string without a copy.
    qbGrowBlock block;
    std::vector<uint8_t> line;  // room for one received line, reused
    size_t used = kVmStringBlockHeader;
    size_t count = 0;
};

// A connection to host:port outside the connection list, so that the event
// dispatcher never sees it.
int TransferConnect(TransferCall& call, const std::string& host, int port, ConnectionPtr* out);
// One line (CRs dropped) of at most limit bytes; a longer one is longError
// with longDetail. The clock bounds it: a whole section's (a reply, a head)
// or a body's with a whole line begun on it (NetClockBeginWhole).
int TransferReadLine(TransferCall& call, qbConnection* c, size_t limit, std::string* text, int longError,
                     long longDetail, qbNetClock* clock);
// Receives into the call's target: want bytes, or everything until the peer
// closes when untilClose is set (the close is then the normal end). The
// clock is the body's (bulk), kept across its pieces.
int TransferReceive(TransferCall& call, qbConnection* c, uint64_t want, bool untilClose, qbNetClock* clock);
// Opens the download's "file" on the replace road; 0 or its error.
int TransferOpenTarget(TransferCall& call);
// Sends without progress reports.
int TransferSendText(TransferCall& call, qbConnection* c, const std::string& text);
// Sends size bytes of the file in pieces with progress; a file that ends
// early or goes on past size is ERR_SENDDATA.
int TransferSendFile(TransferCall& call, qbConnection* c, qbFile* file, uint64_t size);
// ERR_SENDDATA for a file that could not be sent as it was measured.
int TransferSourceFault();
// A stop asked for by the script's callback ends the call normally with
// what arrived: 0 with the count set from c, else err unchanged.
int TransferKeepOnStop(TransferCall& call, const qbConnection* c, int err);

// The protocols; url is the script's URL.
int HttpTransfer(TransferCall& call, std::string url);
int FtpTransfer(TransferCall& call, const std::string& url);

// Reads "formdata" of the options table at stack slot 2 into call.parts.
int ReadFormParts(ScriptState* L, std::vector<FormPart>* parts);
// The multipart body's exact length, and the body sent with progress.
uint64_t MultipartLength(const std::vector<FormPart>& parts, const std::string& boundary);
int SendMultipart(TransferCall& call, qbConnection* c, const std::string& boundary);
