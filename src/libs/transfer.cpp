// The transfer engine's entry: options, the call's connections and the
// receive and send helpers that both protocols use. A call owns everything
// it opens (connections, files) through RAII records, so every error path
// frees them.
#include "libs/transfer.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/argapi.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "core/file.h"
#include "core/replacefile.h"
#include "core/settings.h"
#include "core/truth.h"
#include "display/eventlib.h"
#include "libs/network.h"
#include "libs/transfercall.h"
#include "libs/transferfields.h"
#include "libs/transferurl.h"
#include "vm/vm.h"

namespace {

// The stack slots of the callback and its userdata in a command's frame.
constexpr int kCallbackSlot = 3;
constexpr int kUserdataSlot = 4;

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
    {
        // A progress callback is a callback like any other: WaitEvent and
        // the commands that refuse inside one refuse here too.
        const qbCallbackScope running;
        if (int err = VmPCall(L, 1, 1, 0)) return err;
    }
    const bool stop = ScriptTruth(L, -1);
    VmSetTop(L, -2);
    if (stop || EventQuitRequested()) {
        callbackStopped = stop;
        return ERR_USERABORT;
    }
    return 0;
}

// One string field: true when present; another kind is ERR_STRINGEXPECTED.
int StringField(ScriptState* L, const char* key, std::string* out, bool* present) {
    VmPushString(L, key);
    IndexOptionTable(L, 2);
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

int ReadOptions(ScriptState* L, bool upload, TransferOptions* o) {
    if (VmGetTop(L) < 2 || VmType(L, 2) == kTypeNil) return upload ? ERR_WRONGUSAGE : 0;
    if (VmType(L, 2) != kTypeTable) return ERR_TABEXPECTED;
    VmPushString(L, "transfermode");
    IndexOptionTable(L, 2);
    if (VmType(L, -1) != kTypeNil) {
        // Only the two modes themselves: a fraction, NaN or a huge number
        // is no mode, whatever an integer cut of it would be.
        const double mode = VmToNumber(L, -1);
        o->mode = mode == kFtpBinary ? kFtpBinary : mode == kFtpAscii ? kFtpAscii : -1;
    }
    VmSetTop(L, -2);
    if (o->mode != kFtpBinary && o->mode != kFtpAscii) return ERR_WRONGUSAGE;
    bool present = false;
    if (int err = StringField(L, "file", &o->file, &o->hasFile)) return err;
    if (int err = StringField(L, "proxy", &o->proxy, &o->hasProxy)) return err;
    if (int err = StringField(L, "customheaders", &o->customHeaders, &present)) return err;
    o->encoded = FieldTruth(L, 2, "encoded", false);
    o->silentFail = FieldTruth(L, 2, "silentfail", false);
    if (upload) {
        if (int err = StringField(L, "data", &o->data, &o->hasData)) return err;
        if (o->hasData && (o->hasFile || o->data.empty())) return ERR_WRONGUSAGE;
    } else {
        o->fail404 = FieldTruth(L, 2, "fail404", false);
        o->redirect = FieldTruth(L, 2, "redirect", true);
        if (int err = StringField(L, "post", &o->post, &o->hasPost)) return err;
        if (o->hasPost && o->post.empty()) return ERR_WRONGUSAGE;
        if (int err = StringField(L, "posttype", &o->postType, &present)) return err;
        if (int err = StringField(L, "useragent", &o->userAgent, &present)) return err;
    }
    // Every script text bound for the request head is checked here, before
    // anything connects.
    if (int err = TakeCustomHeaders(&o->customHeaders)) return err;
    if (int err = CheckHeaderValue(o->postType)) return err;
    return CheckHeaderValue(o->userAgent);
}

// The upload's source: the FTP "file", or the HTTP form parts. An HTTP
// upload takes neither "data" nor "file": its answer would be written over
// the very file being sent.
int PrepareUpload(ScriptState* L, TransferCall& call, TransferScheme scheme) {
    const TransferOptions& o = call.options;
    if (scheme == TransferScheme::kHttp) {
        if (o.hasData || o.hasFile) return ERR_WRONGUSAGE;
        return ReadFormParts(L, &call.parts);
    }
    if (!o.hasFile) return o.hasData ? 0 : ERR_WRONGUSAGE;
    call.source.reset(FileOpen(o.file.c_str(), kFileModeRead, nullptr));
    if (!call.source) {
        SetErrorDetail(o.file.c_str());
        return ERR_READFILE;
    }
    const int64_t size = GetFileSize(call.source.get());
    if (size < 0) return ERR_FILESIZE;
    call.sourceSize = static_cast<uint64_t>(size);
    return 0;
}

int Transfer(ScriptState* L, bool upload) {
    TransferCall call;
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
    TransferUrl parsed;
    if (!err) err = ParseTransferUrl(url, &parsed);
    if (!err && upload) err = PrepareUpload(L, call, parsed.scheme);
    // A download onto a file that a live object reads is refused before a
    // byte goes over the network.
    if (!err && !upload && call.options.hasFile) err = CheckWriteTarget(call.options.file.c_str(), nullptr);
    if (!err) err = parsed.scheme == TransferScheme::kFtp ? FtpTransfer(call, url) : HttpTransfer(call, url);
    call.parts.clear();
    call.source.reset();
    // A failed download drops its new file (the old one stays whole).
    if (!err && call.target.file) err = CommitReplaceFile(&call.target);
    if (err) {
        if (!call.options.silentFail || err == ERR_USERABORT) return err;
        char text[kErrorTextSize];
        GetErrorText(err, text);
        VmPushString(L, text);
        VmPushNumber(L, -1);
        return 2;
    }
    if (upload && parsed.scheme == TransferScheme::kFtp) return 0;
    if (call.options.hasFile)
        VmPushString(L, "");
    else if (call.used > kVmStringBlockHeader && GrowBlockReserve(&call.block, call.used + 1))
        VmPushStringBlock(L, call.block.data.release(), call.used - kVmStringBlockHeader);
    else if (call.used > kVmStringBlockHeader)
        return ERR_MEM;
    else
        VmPushLString(L, "", 0);
    VmPushNumber(L, static_cast<double>(call.count));
    return 2;
}

}  // namespace

int TransferConnect(TransferCall& call, const std::string& host, int port, ConnectionPtr* out) {
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

int TransferReadLine(TransferCall& call, qbConnection* c, size_t limit, std::string* text, int longError,
                     long longDetail, qbNetClock* clock) {
    if (call.line.size() < limit) call.line.resize(limit);
    qbNetSink sink;
    sink.kind = NetSinkKind::kBlock;
    sink.block = call.line.data();
    sink.blockSize = limit;
    const int32_t saved = c->progressCallback;
    c->progressCallback = 0;
    qbNetReceipt receipt;
    int err = NetReceive(call.L, c, kReceiveLine, 0, clock, sink, &receipt);
    c->progressCallback = saved;
    if (err == ERR_MEM) {
        SetErrorArgIndex(static_cast<int>(longDetail));
        return longError;
    }
    if (!err) err = NetReceiveError(receipt);
    if (err) return err;
    text->assign(reinterpret_cast<const char*>(call.line.data()), sink.used);
    return 0;
}

int TransferReceive(TransferCall& call, qbConnection* c, uint64_t want, bool untilClose, qbNetClock* clock) {
    qbNetSink sink;
    if (call.target.file) {
        sink.kind = NetSinkKind::kFile;
        sink.file = call.target.file.get();
        sink.waitlessFd = call.targetWaitless;
    } else {
        // The answer becomes the script's string: what it cannot hold is
        // never gathered.
        sink.kind = NetSinkKind::kGrowBlock;
        sink.grow = &call.block;
        sink.used = call.used;
        sink.most = kNetLongestString - std::min(kNetLongestString, call.used - kVmStringBlockHeader);
        // A declared length that cannot fit is refused before a byte of it
        // is read.
        if (!untilClose && want > sink.most) return ERR_MEM;
    }
    qbNetReceipt receipt;
    int err = NetReceive(call.L, c, untilClose ? kReceiveAll : kReceiveBytes, static_cast<size_t>(want), clock, sink,
                         &receipt);
    if (!err) err = NetReceiveError(receipt);
    if (!call.target.file) call.used = sink.used;
    call.count += receipt.count;
    if (untilClose && err == ERR_RECVCLOSED) return 0;
    return err;
}

int TransferOpenTarget(TransferCall& call) {
    if (!call.options.hasFile) return 0;
    if (int err = BeginReplaceFile(call.options.file.c_str(), qbReplaceOptions{}, &call.target)) return err;
    // Its open waited for no reader; its writes wait no longer than the
    // network's time-out for one that stopped reading.
    const int fd = ReplaceFileDescriptor(call.target);
    struct stat st;
    if (fd >= 0 && fstat(fd, &st) == 0 && !S_ISREG(st.st_mode) && fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK) == 0)
        call.targetWaitless = fd;
    return 0;
}

int TransferSendText(TransferCall& call, qbConnection* c, const std::string& text) {
    const int32_t saved = c->progressCallback;
    c->progressCallback = 0;
    const int err = NetSendAll(call.L, c, text.data(), text.size());
    c->progressCallback = saved;
    return err;
}

int TransferSendFile(TransferCall& call, qbConnection* c, qbFile* file, uint64_t size) {
    uint8_t piece[kTransferPiece];
    for (uint64_t left = size; left > 0;) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(left, sizeof piece));
        if (FileReadBytes(file, piece, want) != want) return TransferSourceFault();
        if (int err = NetSendAll(call.L, c, piece, want)) return err;
        left -= want;
    }
    // A file that grew since its size was taken would be sent cut short.
    return FileGetC(file) < 0 ? 0 : TransferSourceFault();
}

int TransferSourceFault() {
    SetErrorDetail(" (the file to send changed while it was sent)");
    return ERR_SENDDATA;
}

int TransferKeepOnStop(TransferCall& call, const qbConnection* c, int err) {
    if (err != ERR_USERABORT || !callbackStopped || EventQuitRequested()) return err;
    call.count = static_cast<size_t>(c->progressCount);
    return 0;
}

int cmdDownloadFile(ScriptState* L) {
    CheckArgCount(L, 1, 4, 0, 0);
    return Transfer(L, false);
}
int cmdUploadFile(ScriptState* L) {
    CheckArgCount(L, 2, 4, 0, 0);
    return Transfer(L, true);
}
void InitTransferEngine() { SetNetProgressHook(CallProgress); }
