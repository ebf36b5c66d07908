// The inbuilt part of the picture loader chain: the header probe, the
// choice of an inbuilt reader by the file's first bytes, and the hand-over
// to the platform decoder when no inbuilt reader takes the file.
#include "imaging/loaderchain.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "core/errcodes.h"
#include "core/errors.h"
#include "core/file.h"
#include "core/loadertags.h"
#include "imaging/gif.h"
#include "imaging/ilbm.h"
#include "imaging/imageformats.h"
#include "platform/platform.h"

namespace {

// A probe reads this much of the file into a zero-filled buffer; the
// buffer has room behind it so that fields of a tag found at its very end
// read zeros instead of running over.
constexpr size_t kProbeBytes = 1024;
constexpr size_t kProbeSlack = 16;
// The load pass picks a reader by this many bytes.
constexpr size_t kSignatureBytes = 64;

// Offsets of the probe's header fields.
constexpr int64_t kJpegFirstSegmentLength = 4;
constexpr int64_t kPngFirstChunk = 8;
constexpr size_t kBmpWidth = 18;
constexpr size_t kBmpHeight = 22;
constexpr size_t kGifWidth = 6;
constexpr size_t kGifHeight = 8;
constexpr size_t kGifFlags = 10;
constexpr size_t kGifAfterScreen = 13;
constexpr size_t kGifTableEndLimit = 799;
constexpr size_t kGifPositionLimit = 999;
constexpr uint8_t kGifExtension = 0x21;
constexpr uint8_t kGifGraphicControl = 0xF9;
constexpr uint16_t kTiffWidth = 256;
constexpr uint16_t kTiffHeight = 257;
constexpr uint16_t kTiffPhotometric = 262;
constexpr uint16_t kTiffSamplesPerPixel = 277;
constexpr uint16_t kTiffPhotometricRGB = 2;
constexpr uint16_t kTiffTypeLong = 4;
constexpr int kIlbmMaskHasTransparentColour = 2;

uint32_t BE32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 |
           p[3];
}
uint32_t LE32(const uint8_t* p) {
    return static_cast<uint32_t>(p[3]) << 24 | static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[1]) << 8 |
           p[0];
}
uint16_t BE16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
uint16_t LE16(const uint8_t* p) { return static_cast<uint16_t>(p[1] << 8 | p[0]); }

bool IsILBM(const uint8_t* b) { return std::memcmp(b, "FORM", 4) == 0 && std::memcmp(b + 8, "ILBM", 4) == 0; }
bool IsJPEG(const uint8_t* b) { return b[0] == 0xFF && b[1] == 0xD8; }
bool IsPNG(const uint8_t* b) { return b[0] == 0x89 && std::memcmp(b + 1, "PNG", 3) == 0; }
bool IsBMP(const uint8_t* b) { return b[0] == 'B' && b[1] == 'M'; }
bool IsGIF(const uint8_t* b) { return std::memcmp(b, "GIF87a", 6) == 0 || std::memcmp(b, "GIF89a", 6) == 0; }
bool IsTIFF(const uint8_t* b, bool* bigEndian) {
    if (b[0] == 'M' && b[1] == 'M' && b[2] == 0x00 && b[3] == 0x2A) {
        *bigEndian = true;
        return true;
    }
    if (b[0] == 'I' && b[1] == 'I' && b[2] == 0x2A && b[3] == 0x00) {
        *bigEndian = false;
        return true;
    }
    return false;
}

int32_t ClampToInt32(int64_t v) { return v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : static_cast<int32_t>(v); }

// count bytes in the given order through FileGetC; false at the end.
bool ReadNumber(qbFile* f, int count, bool bigEndian, uint32_t* out) {
    uint32_t v = 0;
    for (int i = 0; i < count; ++i) {
        const int c = FileGetC(f);
        if (c < 0) return false;
        v = bigEndian ? (v << 8) | static_cast<uint32_t>(c) : v | static_cast<uint32_t>(c) << (8 * i);
    }
    *out = v;
    return true;
}

bool Skip(qbFile* f, int64_t count) { return FileSeek(f, count, kSeekCurrent) >= 0; }

struct ProbeInfo {
    int32_t width = 0;
    int32_t height = 0;
    int32_t alpha = 0;
    bool transparency = false;
};

// The JPEG marker walk to the frame header. false: not found before the end.
bool ProbeJPEG(qbFile* f, ProbeInfo* info) {
    uint32_t length;
    if (FileSeek(f, kJpegFirstSegmentLength, kSeekBeginning) < 0 || !ReadNumber(f, 2, true, &length)) return false;
    if (FileSeek(f, kJpegFirstSegmentLength + length, kSeekBeginning) < 0) return false;
    for (;;) {
        int c = FileGetC(f);
        if (c < 0) return false;
        if (c != 0xFF) continue;
        do c = FileGetC(f);
        while (c == 0xFF);
        if (c < 0) return false;
        if (c == 0x00) continue;  // a stuffed byte, no marker
        const bool frame = (c >= 0xC0 && c <= 0xCE && c != 0xC4 && c != 0xCC) || c == 0xDE;
        if (frame) {
            uint32_t height, width;
            if (!Skip(f, 3) || !ReadNumber(f, 2, true, &height) || !ReadNumber(f, 2, true, &width)) return false;
            info->width = static_cast<int32_t>(width);
            info->height = static_cast<int32_t>(height);
            return true;
        }
        if (!ReadNumber(f, 2, true, &length)) return false;
        if (length > 2 && !Skip(f, length - 2)) return false;
    }
}

// Colour type 3: alpha when a tRNS chunk comes before IEND; the walk stops
// without alpha at the end of the file.
bool PaletteHasTRNS(qbFile* f) {
    if (FileSeek(f, kPngFirstChunk, kSeekBeginning) < 0) return false;
    for (;;) {
        uint32_t length;
        uint8_t type[4];
        if (!ReadNumber(f, 4, true, &length)) return false;
        for (uint8_t& t : type) {
            const int c = FileGetC(f);
            if (c < 0) return false;
            t = static_cast<uint8_t>(c);
        }
        if (std::memcmp(type, "IEND", 4) == 0) return false;
        if (std::memcmp(type, "tRNS", 4) == 0) return true;
        if (!Skip(f, int64_t{length} + 4)) return false;
    }
}

bool ProbeTIFF(qbFile* f, const uint8_t* buf, bool bigEndian, ProbeInfo* info) {
    const uint32_t ifd = bigEndian ? BE32(buf + 4) : LE32(buf + 4);
    uint32_t entries;
    if (FileSeek(f, ifd, kSeekBeginning) < 0 || !ReadNumber(f, 2, bigEndian, &entries) || entries == 0) return false;
    bool haveWidth = false, haveHeight = false, rgb = false;
    uint32_t samples = 0;
    for (uint32_t i = 0; i < entries; ++i) {
        uint32_t tag, type, count, value;
        if (!ReadNumber(f, 2, bigEndian, &tag) || !ReadNumber(f, 2, bigEndian, &type) ||
            !ReadNumber(f, 4, bigEndian, &count))
            break;
        // The value field holds a SHORT in its first two bytes, a LONG in all four.
        if (type == kTiffTypeLong) {
            if (!ReadNumber(f, 4, bigEndian, &value)) break;
        } else {
            uint32_t rest;
            if (!ReadNumber(f, 2, bigEndian, &value) || !ReadNumber(f, 2, bigEndian, &rest)) break;
        }
        switch (tag) {
        case kTiffWidth: info->width = ClampToInt32(value), haveWidth = true; break;
        case kTiffHeight: info->height = ClampToInt32(value), haveHeight = true; break;
        case kTiffPhotometric: rgb = value == kTiffPhotometricRGB; break;
        case kTiffSamplesPerPixel: samples = value; break;
        default: break;
        }
    }
    if (!haveWidth || !haveHeight) return false;
    info->alpha = rgb && samples == 4;
    return true;
}

void ProbeGIFTransparency(const uint8_t* buf, ProbeInfo* info) {
    size_t p = kGifAfterScreen;
    const uint8_t flags = buf[kGifFlags];
    if (flags & 0x80) {
        p += 3 * (size_t{1} << ((flags & 7) + 1));
        if (p > kGifTableEndLimit) return;
    }
    while (p <= kGifPositionLimit && buf[p] == kGifExtension) {
        if (buf[p + 1] == kGifGraphicControl) {
            info->transparency = buf[p + 2] >= 4 && (buf[p + 3] & 1);
            return;
        }
        p += 2;
        while (p <= kGifPositionLimit && buf[p] != 0) p += buf[p] + 1;
        ++p;
    }
}

// The cheap header test of a probe. false: go on with the load pass.
bool ProbeHeader(qbFile* f, const uint8_t* buf, ProbeInfo* info) {
    bool bigEndian = false;
    if (IsILBM(buf)) {
        const int32_t p = FindTagInHeader(buf, kProbeBytes, "BMHD");
        if (p < 0) return false;
        info->width = BE16(buf + p + 4);
        info->height = BE16(buf + p + 6);
        info->transparency = buf[p + 13] == kIlbmMaskHasTransparentColour;
        return true;
    }
    if (IsJPEG(buf)) return ProbeJPEG(f, info);
    if (IsPNG(buf)) {
        const int32_t p = FindTagInHeader(buf, kProbeBytes, "IHDR");
        if (p < 0) return false;
        info->width = static_cast<int32_t>(BE32(buf + p));
        info->height = static_cast<int32_t>(BE32(buf + p + 4));
        const uint8_t type = buf[p + 9];
        info->alpha = type == 4 || type == 6 || (type == 3 && PaletteHasTRNS(f));
        return true;
    }
    if (IsBMP(buf)) {
        info->width = static_cast<int32_t>(LE32(buf + kBmpWidth));
        const int64_t height = static_cast<int32_t>(LE32(buf + kBmpHeight));
        info->height = ClampToInt32(height < 0 ? -height : height);
        return true;
    }
    if (IsTIFF(buf, &bigEndian)) return ProbeTIFF(f, buf, bigEndian, info);
    if (IsGIF(buf)) {
        info->width = LE16(buf + kGifWidth);
        info->height = LE16(buf + kGifHeight);
        ProbeGIFTransparency(buf, info);
        return true;
    }
    return false;
}

int FailWithName(int code, const char* name) {
    SetErrorDetail(name ? name : "");
    return code;
}

// What an inbuilt reader produced.
struct ReaderOutput {
    PixelBuffer pixels;
    int32_t width = 0;
    int32_t height = 0;
    int32_t alpha = 0;
    int32_t ownTransparency = 0;  // the frame marks its transparent pixels in alpha
    int32_t key = -1;             // a key colour 0x00RRGGBB (ILBM)
    std::unique_ptr<uint32_t[]> paletteCopy;
};

// What the caller hands the ILBM reader.
struct ILBMOptions {
    const uint32_t* palette = nullptr;
    uint32_t callerColour = kNoCallerColour;
    int32_t keyColourMode = 0;
    bool wantPaletteCopy = false;
};

int ReadILBMPicture(qbFile* file, bool probe, const ILBMOptions& options, ReaderOutput* o) {
    ILBMReadRequest request;
    request.probe = probe;
    // The reader merges into the palette it is given; the caller's stays as
    // it was.
    uint32_t palette[256];
    if (options.palette) {
        std::memcpy(palette, options.palette, sizeof palette);
        request.palette = palette;
    }
    request.callerColour = options.callerColour;
    request.mode1 = options.keyColourMode == 1;
    request.mode2 = options.keyColourMode == 2;
    request.wantPaletteCopy = options.wantPaletteCopy;
    if (int err = ReadILBM(file, &request)) return err;
    o->width = request.width;
    o->height = request.height;
    o->pixels = std::move(request.pixels);
    o->key = request.key;
    o->paletteCopy = std::move(request.paletteCopy);
    return 0;
}

// Frame 0 of a GIF; the reader takes the file and closes it.
int ReadGIFPicture(qbFilePtr* file, bool probe, bool keyColours, ReaderOutput* o) {
    int32_t frames = 0;
    int err = 0;
    qbGIFReaderPtr reader(
        OpenGIFReader(file->release(), &o->width, &o->height, &frames, probe, true, keyColours, &err));
    if (probe) return 0;
    if (!reader) return err ? err : ERR_LOADPICTURE2;
    uint32_t transparency = 0;
    o->pixels = GetGIFFrame(reader.get(), 0, &transparency);
    if (!o->pixels) return ERR_LOADPICTURE2;
    o->ownTransparency = transparency == 1;
    return 0;
}

int RunInbuiltReader(int32_t format, qbFilePtr* file, bool probe, const ILBMOptions& options, ReaderOutput* o) {
    const int32_t keyColourMode = options.keyColourMode;
    switch (format) {
    case kImageFormatILBM: return ReadILBMPicture(file->get(), probe, options, o);
    case kImageFormatJPEG: return ReadJPEG(file->get(), probe, &o->width, &o->height, &o->pixels);
    case kImageFormatPNG: return ReadPNG(file->get(), probe, &o->width, &o->height, &o->pixels, &o->alpha);
    case kImageFormatBMP: return ReadBMP(file->get(), probe, &o->width, &o->height, &o->pixels);
    case kImageFormatGIF: return ReadGIFPicture(file, probe, keyColourMode == 2, o);
    default: return ERR_LOADPICTURE2;
    }
}

int32_t ChooseFormat(const uint8_t* b) {
    if (IsILBM(b)) return kImageFormatILBM;
    if (IsJPEG(b)) return kImageFormatJPEG;
    if (IsPNG(b)) return kImageFormatPNG;
    if (IsBMP(b)) return kImageFormatBMP;
    if (IsGIF(b)) return kImageFormatGIF;
    return kImageFormatNone;
}

}  // namespace

int32_t FindTagInHeader(const uint8_t* buffer, int32_t length, const char* id) {
    if (!buffer || length < 9) return -1;
    for (int32_t i = 0; i <= length - 9; ++i)
        if (std::memcmp(buffer + i, id, 4) == 0) return i + 4;
    return -1;
}

int LoadImageInbuilt(const char* fileName, const char* loaderTag, const char* adapterTag, uint32_t openMode,
                     const uint32_t* palette, uint32_t callerColour, int32_t keyColourMode, bool probeOnly,
                     bool wantPaletteCopy, qbInbuiltLoadResult* out) {
    out->image.reset();
    out->paletteCopy.reset();
    if (!probeOnly) out->transparency = -1;
    const bool inbuilt = LoaderAllowedByTag(loaderTag, "inbuilt", 0) != 0;
    const bool native = LoaderAllowedByTag(loaderTag, "native", 0) != 0;
    qbFilePtr file;

    if (probeOnly && inbuilt) {
        file.reset(FileOpen(fileName, openMode, adapterTag));
        if (!file) return FailWithName(ERR_READFILE, fileName);
        uint8_t buf[kProbeBytes + kProbeSlack] = {};
        FileRead(file.get(), buf, kProbeBytes);
        ProbeInfo info;
        if (ProbeHeader(file.get(), buf, &info)) {
            out->width = info.width;
            out->height = info.height;
            out->hasAlpha = info.alpha;
            if (info.transparency) out->transparency = 1;
            return 0;
        }
    }

    std::unique_ptr<qbDecodedImage, void (*)(qbDecodedImage*)> record(new (std::nothrow) qbDecodedImage,
                                                                      &FreeImageRecord);
    if (!record) return ERR_MEM;
    int err = ERR_LOADPICTURE2;
    ReaderOutput result;
    if (inbuilt) {
        if (!file) {
            file.reset(FileOpen(fileName, openMode, adapterTag));
            if (!file) return FailWithName(ERR_READFILE, fileName);
        }
        uint8_t signature[kSignatureBytes] = {};
        FileSeek(file.get(), 0, kSeekBeginning);
        FileRead(file.get(), signature, kSignatureBytes);
        FileSeek(file.get(), 0, kSeekBeginning);
        record->format = ChooseFormat(signature);
        if (record->format != kImageFormatNone) out->native = 0;
        const ILBMOptions ilbm{palette, callerColour, keyColourMode, wantPaletteCopy};
        err = RunInbuiltReader(record->format, &file, probeOnly, ilbm, &result);
    }
    // A picture more than its bytes can hold (or than memory has room for)
    // is refused whole: no other decoder is asked to make it.
    if (err == ERR_MEM) return err;
    if (err) {
        if (!native) return FailWithName(ERR_LOADPICTURE2, fileName);
        result = ReaderOutput{};
        if (file) {
            FileSeek(file.get(), 0, kSeekBeginning);
        } else {
            file.reset(FileOpen(fileName, openMode, adapterTag));
            if (!file) return FailWithName(ERR_READFILE, fileName);
        }
        qbNativeImageRequest request;
        request.file = file.get();
        request.name = fileName;
        request.openFlags = openMode;
        request.probeOnly = probeOnly;
        request.palette = palette;
        request.callerColour = callerColour;
        request.keyColourMode = keyColourMode == 1;
        err = DecodeNativeImage(&request);
        if (!err && !probeOnly && !request.image) err = ERR_LOADPICTURE2;
        if (err) {
            if (request.image) FreeNativeImage(request.image);
            return err == ERR_LOADPICTURE2 ? FailWithName(err, fileName) : err;
        }
        record->format = kImageFormatNative;
        record->native = request.image;
        result.width = request.width;
        result.height = request.height;
        result.alpha = request.hasAlpha;
        out->native = 1;
        if (wantPaletteCopy) out->paletteCopy = std::move(request.paletteCopy);
        if (!probeOnly || request.transparency == 1) out->transparency = request.transparency;
    }
    out->width = result.width;
    out->height = result.height;
    out->hasAlpha = result.alpha;
    if (!probeOnly) {
        if (record->format != kImageFormatNative) record->pixels = std::move(result.pixels);
        if (result.ownTransparency) out->transparency = -2;
        if (result.key >= 0) out->transparency = result.key;
        if (wantPaletteCopy && result.paletteCopy) out->paletteCopy = std::move(result.paletteCopy);
        out->image = std::move(record);
    }
    return 0;
}
