// PNG and JPEG encoding for the clipboard and the image savers, through the
// picture layer's writers. The caller's pixels are only read: the writers
// take either byte order, so nothing is swapped in place.
#include <new>

#include "core/errcodes.h"
#include "core/file.h"
#include "core/replacefile.h"
#include "platform/imagecodecs.h"
#include "platform/linux/nativeimage.h"

namespace linux_images {

int EncodeNativeImage(const char* path, const qbEncodePixels* picture, int32_t type, std::vector<uint8_t>* outData) {
    const int typeError = type == kNativeImagePNG ? ERR_SAVEPNG : ERR_WRITEJPEG;
    if (!picture || !picture->pixels || picture->width <= 0 || picture->height <= 0 ||
        int64_t{picture->bytesPerRow} < int64_t{picture->width} * 4)
        return ERR_WRONGUSAGE;
    if (!path && !outData) return ERR_MEM;
    const qbImageCodecHooks* hooks = GetImageCodecHooks();
    auto* write = hooks ? (type == kNativeImagePNG ? hooks->writePNG : hooks->writeJPEG) : nullptr;
    if (!write) return typeError;

    if (!path) {
        // The writers append, so the caller's block takes the file directly;
        // a failed write leaves it as it was.
        const size_t before = outData->size();
        const int err = write(*picture, outData);
        if (err) outData->resize(before);
        return err == 0 ? 0 : err == ERR_MEM ? ERR_MEM : typeError;
    }
    std::vector<uint8_t> encoded;
    if (int err = write(*picture, &encoded)) return err == ERR_MEM ? ERR_MEM : typeError;
    qbReplaceFile file;
    if (int err = BeginReplaceFile(path, qbReplaceOptions{}, &file)) return err == ERR_WRONGUSAGE ? err : typeError;
    // The picture was made: a file that refused its bytes is a write error.
    if (FileWrite(file.file.get(), encoded.data(), encoded.size()) != encoded.size()) return ERR_WRITE;
    return CommitReplaceFile(&file);
}

}  // namespace linux_images
