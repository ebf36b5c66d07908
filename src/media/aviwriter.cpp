// Writing Motion-JPEG AVI files. Every frame is the frame's share of silent
// audio and one JPEG picture. A frame that cannot be written in full puts
// the writer's counts back as they were before it and marks the files for a
// seek, so the next frame overwrites what the failed one left.
#include "media/aviwriter.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "core/errcodes.h"
#include "core/errors.h"
#include "core/fileops.h"
#include "core/pixelformats.h"
#include "core/replacefile.h"
#include "imaging/bitmap.h"
#include "imaging/scalebitmap.h"
#include "media/avilayout.h"

namespace {

constexpr int64_t kHeaderListOffset = 12;
constexpr size_t kCopyBlock = 16384;
constexpr uint32_t kLegacyEntryBytes = 16;
constexpr uint32_t kKeyFrame = 0x10;
constexpr int64_t kLegacyHeaderBytes = 8;

int64_t LegacyEnd(const qbAVIProgress& p) {
    return kLegacyHeaderBytes + static_cast<int64_t>(p.riffFrames) * 2 * kLegacyEntryBytes;
}

// At the end of the output, where the next chunk goes.
bool Append(qbAVIWriter& w, const void* data, size_t n) {
    if (FileWrite(w.output.file.get(), data, n) != n) return false;
    w.progress->end += static_cast<int64_t>(n);
    return true;
}
bool Append(qbAVIWriter& w, const AVIBytes& b) { return Append(w, b.data.data(), b.data.size()); }

// Somewhere before the end; the file is left at the end again.
bool PutAt(qbAVIWriter& w, int64_t position, const void* data, size_t n) {
    qbFile* f = w.output.file.get();
    return FileSeek(f, position, kSeekBeginning) >= 0 && FileWrite(f, data, n) == n &&
           FileSeek(f, w.progress->end, kSeekBeginning) >= 0;
}
bool PutU32At(qbAVIWriter& w, int64_t position, uint32_t value) {
    AVIBytes b;
    b.U32(value);
    return PutAt(w, position, b.data.data(), b.data.size());
}

int Resync(qbAVIWriter& w) {
    if (!w.resync) return 0;
    const qbAVIProgress& p = *w.progress;
    if (FileSeek(w.output.file.get(), p.end, kSeekBeginning) < 0) return ERR_WRITE;
    if (p.legacyPending && FileSeek(w.legacy.get(), LegacyEnd(p), kSeekBeginning) < 0) return ERR_WRITE;
    w.resync = false;
    return 0;
}

// The pair in use goes into its reserved place with its durations settled.
bool WriteBackPair(qbAVIWriter& w) {
    qbAVIProgress& p = *w.progress;
    if (!p.superCount) return true;
    const uint32_t frames = p.frames - p.pairFirstFrame;
    p.videoSuper[p.superCount - 1].duration = frames;
    p.audioSuper[p.superCount - 1].duration = frames * w.samplesPerFrame;
    AVIBytes b;
    BuildAVIStandardIndex("ix00", "00wb", p.pairBase, p.pairEntries, p.audioIndex, b);
    BuildAVIStandardIndex("ix01", "01dc", p.pairBase, p.pairEntries, p.videoIndex, b);
    return PutAt(w, p.pairPosition, b.data.data(), b.data.size());
}

bool ReservePair(qbAVIWriter& w) {
    qbAVIProgress& p = *w.progress;
    const int64_t at = p.end;
    p.audioSuper[p.superCount] = {at, kAVIStandardIndexBytes, p.frames};
    p.videoSuper[p.superCount] = {at + kAVIStandardIndexBytes, kAVIStandardIndexBytes, p.frames};
    ++p.superCount;
    p.pairEntries = 0;
    p.pairPosition = at;
    p.pairBase = p.riffStart;
    p.pairFirstFrame = p.frames;
    ++p.riffPairs;
    AVIBytes b;
    BuildAVIStandardIndex("ix00", "00wb", p.riffStart, 0, p.audioIndex, b);
    BuildAVIStandardIndex("ix01", "01dc", p.riffStart, 0, p.videoIndex, b);
    return Append(w, b);
}

uint32_t MoviSize(const qbAVIWriter& w) {
    const qbAVIProgress& p = *w.progress;
    return static_cast<uint32_t>(4 + p.riffVideoBytes + 16ull * p.riffFrames +
                                 2ull * kAVIStandardIndexBytes * p.riffPairs + 4 * p.riffSamples);
}

bool FixRIFFSizes(qbAVIWriter& w) {
    const qbAVIProgress& p = *w.progress;
    return PutU32At(w, p.riffStart + 4, static_cast<uint32_t>(p.end - p.riffStart - 8)) &&
           PutU32At(w, p.moviStart + 4, MoviSize(w));
}

// The collected idx1 goes after the first RIFF's movi list.
bool AppendLegacyIndex(qbAVIWriter& w) {
    qbAVIProgress& p = *w.progress;
    qbFile* legacy = w.legacy.get();
    AVIBytes size;
    size.U32(p.riffFrames * 2 * kLegacyEntryBytes);
    if (FileSeek(legacy, 4, kSeekBeginning) < 0 || FileWrite(legacy, size.data.data(), 4) != 4) return false;
    if (FileSeek(legacy, 0, kSeekBeginning) < 0) return false;
    std::vector<uint8_t> block(kCopyBlock);
    for (int64_t left = LegacyEnd(p); left > 0;) {
        const size_t n = static_cast<size_t>(std::min<int64_t>(left, kCopyBlock));
        if (FileRead(legacy, block.data(), n) != n || !Append(w, block.data(), n)) return false;
        left -= static_cast<int64_t>(n);
    }
    p.legacyPending = false;
    return true;
}

bool BeginContinuationRIFF(qbAVIWriter& w) {
    if (w.progress->legacyPending && !AppendLegacyIndex(w)) return false;
    if (!FixRIFFSizes(w)) return false;
    qbAVIProgress& p = *w.progress;
    p.riffStart = p.end;
    p.moviStart = p.end + 12;
    p.budget = w.nextBudget;
    p.riffFrames = 0;
    p.riffVideoBytes = 0;
    p.riffSamples = 0;
    p.riffPairs = 0;
    AVIBytes b;
    b.Tag("RIFF");
    b.U32(0);
    b.Tag("AVIX");
    b.Tag("LIST");
    b.U32(0);
    b.Tag("movi");
    return Append(w, b);
}

bool AppendLegacyEntry(qbAVIWriter& w, const char* chunkId, int64_t position, uint32_t size) {
    AVIBytes b;
    b.Tag(chunkId);
    b.U32(kKeyFrame);
    b.U32(static_cast<uint32_t>(position));
    b.U32(size);
    return FileWrite(w.legacy.get(), b.data.data(), b.data.size()) == b.data.size();
}

// The picture at the video size as JPEG data in w.jpeg.
int Encode(qbAVIWriter& w, qbBitmap* picture) {
    BitmapPtr scaled;
    qbBitmap* source = picture;
    if (GetBitmapAttr(picture, kBitmapAttrWidth) != w.width || GetBitmapAttr(picture, kBitmapAttrHeight) != w.height) {
        qbBitmap* made = nullptr;
        const int32_t pw = static_cast<int32_t>(GetBitmapAttr(picture, kBitmapAttrWidth));
        const int32_t ph = static_cast<int32_t>(GetBitmapAttr(picture, kBitmapAttrHeight));
        if (int err = ScaleBitmap(picture, nullptr, nullptr, 0, 0, nullptr, pw, ph, w.width, w.height, false, &made,
                                  nullptr, nullptr))
            return err;
        scaled.reset(made);
        source = made;
    }
    qbBitmapLock lock;
    if (!LockBitmap(source, kLockReadOnly, &lock)) return ERR_LOCKBMAP;
    qbJPEGRequest r;
    r.width = w.width;
    r.height = w.height;
    r.quality = w.quality;
    std::vector<uint32_t> argb;
    if (lock.pixelFormat == kFormatARGB || lock.pixelFormat == kFormatBGRA) {
        r.pixels = static_cast<const uint32_t*>(lock.pixels);
        r.strideBytes = lock.rowLength * 4;
        r.byteOrder = lock.pixelFormat == kFormatBGRA;
        WriteJPEG(&r);
        UnlockBitmap(&lock);
    } else {
        UnlockBitmap(&lock);
        argb = CopyBitmapRectToARGB(source, 0, 0, w.width, w.height, kLockReadOnly);
        if (argb.empty()) return ERR_MEM;
        r.pixels = argb.data();
        r.strideBytes = w.width * 4;
        WriteJPEG(&r);
    }
    if (r.result) return r.result;
    if (r.size > 0xFFFFFFF0u) return ERR_MEM;
    w.jpeg = std::move(r.data);
    w.jpegSize = r.size;
    return 0;
}

bool WriteFrameChunks(qbAVIWriter& w, bool newRIFF, bool newPair) {
    qbAVIProgress& p = *w.progress;
    if (newRIFF && !BeginContinuationRIFF(w)) return false;
    if (newPair && !(WriteBackPair(w) && ReservePair(w))) return false;

    const uint32_t audioBytes = static_cast<uint32_t>(w.audio.size());
    const int64_t audioAt = p.end;
    AVIBytes head;
    head.Tag("00wb");
    head.U32(audioBytes);
    if (!Append(w, head) || !Append(w, w.audio.data(), w.audio.size())) return false;
    p.audioIndex[p.pairEntries] = {static_cast<uint32_t>(audioAt + 8 - p.pairBase), audioBytes};

    const auto jpegBytes = static_cast<uint32_t>(w.jpegSize);
    const uint32_t padded = jpegBytes + (jpegBytes & 1);
    const int64_t videoAt = p.end;
    head.data.clear();
    head.Tag("01dc");
    head.U32(jpegBytes);
    const uint8_t pad = 0;
    if (!Append(w, head) || !Append(w, w.jpeg.get(), jpegBytes) || ((jpegBytes & 1) && !Append(w, &pad, 1)))
        return false;
    p.videoIndex[p.pairEntries] = {static_cast<uint32_t>(videoAt + 8 - p.pairBase), jpegBytes};
    ++p.pairEntries;
    if (padded > p.largestChunk) p.largestChunk = padded;

    if (p.legacyPending &&
        !(AppendLegacyEntry(w, "00wb", audioAt, audioBytes) && AppendLegacyEntry(w, "01dc", videoAt, jpegBytes)))
        return false;
    // Buffered bytes that no longer fit show up only when they are flushed:
    // a frame counts once its bytes are in the files.
    if (!FileFlush(w.output.file.get()) || (p.legacyPending && !FileFlush(w.legacy.get()))) return false;
    ++p.frames;
    ++p.riffFrames;
    p.riffVideoBytes += padded;
    p.videoBytes += padded;
    p.samples += w.samplesPerFrame;
    p.riffSamples += w.samplesPerFrame;
    return true;
}

void DeleteLegacy(qbAVIWriter& w) {
    w.legacy.reset();
    if (!w.legacyName.empty()) RemoveFile(w.legacyName.c_str());
    w.legacyName.clear();
}

}  // namespace

int BeginAVIWriter(const char* fileName, int32_t framesPerSecond, int32_t width, int32_t height, int32_t quality,
                   const char* title, qbAVIWriter** out) {
    if (out) *out = nullptr;
    if (!out || framesPerSecond < 1 || width < 1 || height < 1 || width > 0xFFFF || height > 0xFFFF)
        return ERR_WRONGUSAGE;
    const uint32_t micros = 1000000u / static_cast<uint32_t>(framesPerSecond);
    // Beyond 44,100 frames a second no frame would carry a whole sample.
    if (micros == 0 || 1000000u / micros > kAVIMaxSampleRate) return ERR_WRONGUSAGE;
    const uint32_t f = 1000000u / micros;

    std::unique_ptr<qbAVIWriter> w(new (std::nothrow) qbAVIWriter);
    if (!w) return ERR_MEM;
    w->progress.reset(new (std::nothrow) qbAVIProgress);
    w->saved.reset(new (std::nothrow) qbAVIProgress);
    if (!w->progress || !w->saved) return ERR_MEM;
    w->width = width;
    w->height = height;
    w->quality = quality;
    w->microsPerFrame = micros;
    w->sampleRate = kAVIMaxSampleRate;
    while (w->sampleRate % f) --w->sampleRate;
    w->samplesPerFrame = w->sampleRate / f;
    try {
        w->fileName = fileName ? fileName : "";
        w->title = title ? title : "";
        w->audio.assign(static_cast<size_t>(w->samplesPerFrame) * 4, 0);
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    w->progress->budget = kAVIFirstRIFFBudget;

    try {
        if (int err = BeginReplaceFile(w->fileName.c_str(), qbReplaceOptions{}, &w->output)) return err;
        AVIBytes b;
        b.Tag("RIFF");
        b.U32(0);
        b.Tag("AVI ");
        BuildAVIHeaderList(*w, b);
        w->progress->moviStart = static_cast<int64_t>(b.data.size());
        b.Tag("LIST");
        b.U32(0);
        b.Tag("movi");
        if (!Append(*w, b)) return ERR_WRITE;

        w->legacyName = MakeTempFileName();
        if (!w->legacyName.empty()) w->legacy.reset(FileOpen(w->legacyName.c_str(), kFileModeReadWrite, nullptr));
        const char head[8] = {'i', 'd', 'x', '1', 0, 0, 0, 0};
        if (!w->legacy || FileWrite(w->legacy.get(), head, sizeof head) != sizeof head) {
            SetErrorDetail(w->legacyName.empty() ? GetTempDir().c_str() : w->legacyName.c_str());
            DeleteLegacy(*w);
            return ERR_WRITEFILE;
        }
    } catch (const std::bad_alloc&) {
        DeleteLegacy(*w);
        return ERR_MEM;
    }
    *out = w.release();
    return 0;
}

int WriteAVIFrame(qbAVIWriter* w, qbBitmap* picture) {
    if (!w || !picture) return ERR_WRONGUSAGE;
    const qbAVIProgress& p = *w->progress;
    const bool newRIFF = p.frames > 0 && p.end - p.riffStart > p.budget;
    const bool newPair = newRIFF || p.riffFrames == 0 || p.pairEntries >= w->periodLength;
    // The super indexes have room for no further pair.
    if (newPair && p.superCount >= kAVISuperIndexEntries) return ERR_WRONGUSAGE;
    if (int err = Encode(*w, picture)) return err;
    if (int err = Resync(*w)) return err;
    *w->saved = p;
    int err = ERR_WRITE;
    try {
        if (WriteFrameChunks(*w, newRIFF, newPair)) return 0;
    } catch (const std::bad_alloc&) {
        err = ERR_MEM;
    }
    *w->progress = *w->saved;
    w->resync = true;
    return err;
}

int FinishAVIWriter(qbAVIWriter* writer) {
    std::unique_ptr<qbAVIWriter> w(writer);
    if (!w) return 0;
    int err = 0;
    try {
        bool ok = Resync(*w) == 0 && WriteBackPair(*w);
        if (ok && w->progress->legacyPending) ok = AppendLegacyIndex(*w);
        ok = ok && FixRIFFSizes(*w);
        if (ok) {
            AVIBytes b;
            BuildAVIHeaderList(*w, b);
            ok = PutAt(*w, kHeaderListOffset, b.data.data(), b.data.size());
        }
        if (!ok) err = ERR_WRITE;
    } catch (const std::bad_alloc&) {
        err = ERR_MEM;
    }
    DeleteLegacy(*w);
    if (err) return err;
    return CommitReplaceFile(&w->output);
}

void CloseAVIWriter(qbAVIWriter* writer) {
    std::unique_ptr<qbAVIWriter> w(writer);
    if (w) DeleteLegacy(*w);
}
