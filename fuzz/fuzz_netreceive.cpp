// Fuzz target of the network receive engine: the input is what a peer sent
// before it closed, fed through a socket pair; every receive mode runs into
// every sink. The peer has closed, so no receive ever waits.
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/errcodes.h"
#include "core/file.h"
#include "fuzznote.h"
#include "libs/network.h"
#include "vm/vm.h"

namespace {

// The largest input the pair's buffer takes without a reader.
constexpr size_t kMaxInput = 65536;

// Gathers the data of every piece into the string its upvalue points to:
// the bytes a script's callback gets, whatever pieces the reads made.
int KeepGoing(ScriptState* L) {
    auto* gathered = static_cast<std::string*>(VmToUserdata(L, VmUpvalueIndex(1)));
    VmPushString(L, "data");
    VmRawGet(L, 1);
    if (VmType(L, -1) == kTypeString) gathered->append(VmToCString(L, -1), VmStrLen(L, -1));
    VmSetTop(L, -2);
    VmPushNumber(L, 0);
    return 1;
}

// What a string sink must hold for the mode: the whole input, its first
// want bytes, or the first line without its carriage returns.
std::string Expected(const std::string& input, int mode, size_t want) {
    if (mode == kReceiveAll) return input;
    if (mode == kReceiveBytes) return input.substr(0, want);
    std::string line;
    for (char c : input) {
        if (c == '\n') break;
        if (c != '\r') line += c;
    }
    return line;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > kMaxInput) return 0;
    const std::unique_ptr<ScriptState, decltype(&VmClose)> vm(VmOpen(), VmClose);
    ScriptState* L = vm.get();
    const qbFilePtr devNull(FileOpen("/dev/null", kFileModeWrite, nullptr));
    if (!L || !devNull || EnsureSocketLayer() != 0) return 0;
    // The peer has closed, so nothing waits; a line's deadline, one time-out
    // from its start, must not cut a line whose bytes are all there
    // however slowly a sanitizer runs the receive.
    SetNetworkTimeoutValue(60000);
    const std::string input(reinterpret_cast<const char*>(data), size);
    const size_t want = size == 0 ? 1 : size / 2 + 1;
    const NetSinkKind kinds[] = {NetSinkKind::kCallback, NetSinkKind::kFile, NetSinkKind::kBlock,
                                 NetSinkKind::kGrowBlock};
    for (int mode : {kReceiveAll, kReceiveBytes, kReceiveLine}) {
        for (NetSinkKind kind : kinds) {
            int pair[2];
            if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair) != 0) return 0;
            if (size > 0 && write(pair[1], data, size) != static_cast<ssize_t>(size)) __builtin_trap();
            close(pair[1]);
            auto c = std::make_unique<qbConnection>();
            InitTcpSocket(&c->socket, 0, 0);
            c->socket.fd = pair[0];
            std::vector<uint8_t> block(size / 3 + 1);
            qbGrowBlock grown;
            qbNetSink sink;
            sink.kind = kind;
            sink.file = devNull.get();
            sink.block = block.data();
            sink.blockSize = block.size();
            sink.grow = &grown;
            VmSetTop(L, 0);
            std::string gathered;
            VmPushLightUserdata(L, &gathered);
            VmPushCClosure(L, KeepGoing, 1);
            sink.callback = 1;
            qbNetReceipt receipt;
            qbNetClock clock = NetClockStart(mode == kReceiveLine ? NetWaitWhole() : NetWaitBulk());
            const int err = NetReceive(L, c.get(), mode, want, &clock, sink, &receipt);
            SocketDestroy(&c->socket.fd);
            // What the receive answered and the bytes each sink holds (a
            // file sink's went to /dev/null); how the reads cut the input
            // into pieces is left out, that is the kernel's.
            FuzzNoteValue(err);
            FuzzNoteValue(static_cast<int64_t>(receipt.count));
            FuzzNoteValue(receipt.socketResult);
            FuzzNoteValue(receipt.complete);
            FuzzNoteValue(static_cast<int>(receipt.end));
            FuzzNoteValue(NetReceiveError(receipt));
            FuzzNoteValue(static_cast<int64_t>(sink.used));
            if (kind == NetSinkKind::kCallback) FuzzNoteText(gathered);
            if (kind == NetSinkKind::kBlock) FuzzNote(block.data(), std::min(block.size(), sink.used + 1));
            if (kind == NetSinkKind::kGrowBlock && sink.used) FuzzNote(grown.data.get(), sink.used);
            if (receipt.count > size) __builtin_trap();
            if (err != 0 && err != ERR_MEM) __builtin_trap();
            // Complete only with the line feed or the whole count: the peer
            // closed, so anything short of that is a cut.
            const bool whole = mode == kReceiveLine   ? input.find('\n') != std::string::npos
                               : mode == kReceiveBytes ? size >= want
                                                       : size > 0;
            if (err == 0 && receipt.complete != whole) __builtin_trap();
            if (kind == NetSinkKind::kBlock && sink.used >= block.size() && mode == kReceiveLine) __builtin_trap();
            if (kind == NetSinkKind::kGrowBlock && err == 0 &&
                (sink.used ? std::string(reinterpret_cast<const char*>(grown.data.get()), sink.used) : std::string()) !=
                    Expected(input, mode, want))
                __builtin_trap();
        }
    }
    return 0;
}
