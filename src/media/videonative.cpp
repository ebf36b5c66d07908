// The native driver's videos play in the window through this player's own
// engine: the platform gives packets and pictures, the engine's threads
// time and show them, and its refresh thread posts the end.
#include <new>

#include "core/errcodes.h"
#include "media/videostream.h"

int AttachNativeVideoEngine(qbVideoStream* stream) {
    if (!stream || stream->kind != kVideoDriverNative || stream->own) return 0;
    std::unique_ptr<qbOwnVideoStream> own(new (std::nothrow) qbOwnVideoStream);
    if (!own) return ERR_MEM;
    if (int err = OpenMovieVideoSource(stream->nativePath.c_str(), 0, &own->info, &own->source)) return err;
    if (int err = SettleOwnVideoStream(own.get())) return err;
    stream->own = std::move(own);
    return 0;
}
