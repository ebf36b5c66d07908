// The decoded-picture record of the loader chain.
#include "imaging/loaderchain.h"
#include "platform/platform.h"

const uint32_t* GetImageRecordData(const qbDecodedImage* record) {
    if (!record) return nullptr;
    if (record->format == kImageFormatNative) return GetNativeImageData(record->native);
    return record->pixels.get();
}

void FreeImageRecord(qbDecodedImage* record) {
    if (!record) return;
    if (record->format == kImageFormatNative && record->native) FreeNativeImage(record->native);
    delete record;
}
