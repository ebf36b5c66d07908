// The inbuilt codecs as the backend's image codecs see them.
#include "imaging/codechooks.h"

#include <new>

#include "core/errcodes.h"
#include "imaging/imageformats.h"
#include "platform/imagecodecs.h"

namespace {

int EncodePNG(const qbEncodePixels& picture, std::vector<uint8_t>* out) {
    qbPNGRequest request;
    request.pixels = picture.pixels;
    request.strideBytes = picture.bytesPerRow;
    request.width = picture.width;
    request.height = picture.height;
    request.hasAlpha = picture.hasAlpha != 0;
    request.byteOrder = picture.bigEndian != 0;
    request.memory = out;
    WritePNG(&request);
    return request.result;
}

int EncodeJPEG(const qbEncodePixels& picture, std::vector<uint8_t>* out) {
    qbJPEGRequest request;
    request.pixels = picture.pixels;
    request.strideBytes = picture.bytesPerRow;
    request.width = picture.width;
    request.height = picture.height;
    request.quality = picture.quality;
    request.byteOrder = picture.bigEndian != 0;
    WriteJPEG(&request);
    if (request.result) return request.result;
    try {
        out->insert(out->end(), request.data.get(), request.data.get() + request.size);
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    return 0;
}

const qbImageCodecHooks kHooks{&ReadJPEGMemory, &EncodePNG, &EncodeJPEG};

}  // namespace

void InstallImageCodecHooks() { SetImageCodecHooks(&kHooks); }
