// Pictures no bigger than their bytes can hold: every reader sized by its
// header is fed a file of a few bytes that claims a picture of gigabytes and
// must refuse it (ERR_MEM) without the memory, and pictures above the free
// size, coded as tightly as real encoders code them, load as before.
#include <gtest/gtest.h>

#include <cstdio>  // before jpeglib.h, which uses FILE and size_t unasked

#include <jpeglib.h>
#include <zlib.h>

#include <cstring>
#include <string>
#include <vector>

#ifdef QB_TEST_HAVE_GIFLIB
#include <gif_lib.h>
#endif

#include "core/errcodes.h"
#include "core/pixelbuffer.h"
#include "imagefixtures.h"
#include "imaging/loaderchain.h"
#include "peak_memory.h"

namespace {

using namespace imagefixtures;
using Bytes = std::vector<uint8_t>;

constexpr uint64_t kMostGrowth = uint64_t{256} << 20;

void PutLE(Bytes* b, uint32_t v, int n) {
    for (int i = 0; i < n; ++i) b->push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void PutBE(Bytes* b, uint32_t v, int n) {
    for (int i = n - 1; i >= 0; --i) b->push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void Put(Bytes* b, const std::string& s) { b->insert(b->end(), s.begin(), s.end()); }

// A flat grey JPEG written by libjpeg with optimised Huffman tables (two bits
// an 8x8 block, as tight as its coding goes on a real picture).
Bytes GreyJpeg(int width, int height, bool progressive) {
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = static_cast<JDIMENSION>(width);
    c.image_height = static_cast<JDIMENSION>(height);
    c.input_components = 1;
    c.in_color_space = JCS_GRAYSCALE;
    jpeg_set_defaults(&c);
    c.optimize_coding = TRUE;
    if (progressive) jpeg_simple_progression(&c);
    jpeg_start_compress(&c, TRUE);
    std::vector<JSAMPLE> row(static_cast<size_t>(width), 128);
    while (c.next_scanline < c.image_height) {
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&c, &r, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    Bytes bytes(out, out + size);
    std::free(out);
    return bytes;
}

// The JPEG with its frame header claiming another size.
Bytes ClaimingJpeg(Bytes jpeg, uint16_t width, uint16_t height) {
    for (size_t i = 2; i + 9 < jpeg.size(); ++i) {
        if (jpeg[i] != 0xFF || jpeg[i + 1] != 0xC0) continue;
        jpeg[i + 5] = static_cast<uint8_t>(height >> 8), jpeg[i + 6] = static_cast<uint8_t>(height);
        jpeg[i + 7] = static_cast<uint8_t>(width >> 8), jpeg[i + 8] = static_cast<uint8_t>(width);
        break;
    }
    return jpeg;
}

// 35 bytes: a screen of 16000 x 16000 and one image of one pixel.
Bytes ClaimingGif() {
    Bytes b;
    Put(&b, "GIF89a");
    PutLE(&b, 16000, 2), PutLE(&b, 16000, 2);
    for (uint8_t v : {0x80, 0, 0, 0, 0, 0, 255, 255, 255}) b.push_back(v);  // two colours
    b.push_back(0x2C);
    PutLE(&b, 0, 4), PutLE(&b, 1, 2), PutLE(&b, 1, 2);
    for (uint8_t v : {0, 2, 2, 0x44, 0x01, 0, 0x3B}) b.push_back(v);  // clear, 0, end
    return b;
}

void PngChunk(Bytes* b, const char* type, const Bytes& data) {
    PutBE(b, static_cast<uint32_t>(data.size()), 4);
    Bytes typed(type, type + 4);
    typed.insert(typed.end(), data.begin(), data.end());
    b->insert(b->end(), typed.begin(), typed.end());
    PutBE(b, static_cast<uint32_t>(crc32(0, typed.data(), static_cast<uInt>(typed.size()))), 4);
}

// An RGB PNG of 20000 x 20000 whose one IDAT holds a single row.
Bytes ClaimingPng() {
    Bytes b{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    Bytes header;
    PutBE(&header, 20000, 4), PutBE(&header, 20000, 4);
    for (uint8_t v : {8, 2, 0, 0, 0}) header.push_back(v);
    PngChunk(&b, "IHDR", header);
    const Bytes row(1 + 20000 * 3, 0);
    uLongf packed = compressBound(row.size());
    Bytes data(packed);
    compress2(data.data(), &packed, row.data(), row.size(), 9);
    data.resize(packed);
    PngChunk(&b, "IDAT", data);
    PngChunk(&b, "IEND", {});
    return b;
}

// A BMP's headers: 24 bits, or 8 with RLE8 and a grey palette of 256.
Bytes BmpHead(int32_t width, int32_t height, bool rle8, uint32_t dataBytes) {
    const uint32_t offset = 54 + (rle8 ? 1024 : 0);
    Bytes b;
    Put(&b, "BM");
    PutLE(&b, offset + dataBytes, 4), PutLE(&b, 0, 4), PutLE(&b, offset, 4);
    PutLE(&b, 40, 4), PutLE(&b, static_cast<uint32_t>(width), 4), PutLE(&b, static_cast<uint32_t>(height), 4);
    PutLE(&b, 1, 2), PutLE(&b, rle8 ? 8 : 24, 2), PutLE(&b, rle8 ? 1 : 0, 4), PutLE(&b, dataBytes, 4);
    PutLE(&b, 2835, 4), PutLE(&b, 2835, 4), PutLE(&b, 0, 4), PutLE(&b, 0, 4);
    if (rle8)
        for (uint32_t i = 0; i < 256; ++i) PutLE(&b, i * 0x010101u, 4);
    return b;
}

// 70 bytes: a 24-bit BMP of 16000 x 16000 with 16 bytes of rows.
Bytes ClaimingBmp() {
    Bytes b = BmpHead(16000, 16000, false, 16);
    b.resize(b.size() + 16, 0x7F);
    return b;
}

// A flat RLE8 BMP as an encoder writes it: runs of 255, then the line's end.
Bytes FlatRleBmp(int32_t width, int32_t height, uint8_t index) {
    Bytes data;
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t left = width; left > 0; left -= 255) data.push_back(static_cast<uint8_t>(std::min(left, 255))),
                                                         data.push_back(index);
        data.push_back(0), data.push_back(y + 1 < height ? 0 : 1);
    }
    Bytes b = BmpHead(width, height, true, static_cast<uint32_t>(data.size()));
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

// An ILBM of 16000 x 16000, eight planes in ByteRun1, with a few body bytes.
Bytes ClaimingIlbm() {
    Bytes bmhd;
    PutBE(&bmhd, 16000, 2), PutBE(&bmhd, 16000, 2), PutBE(&bmhd, 0, 4);
    for (uint8_t v : {8, 0, 1, 0}) bmhd.push_back(v);
    PutBE(&bmhd, 0, 2), bmhd.push_back(1), bmhd.push_back(1), PutBE(&bmhd, 16000, 2), PutBE(&bmhd, 16000, 2);
    Bytes body{0x81, 0, 0x81, 0};
    Bytes form;
    Put(&form, "ILBM");
    Put(&form, "BMHD"), PutBE(&form, static_cast<uint32_t>(bmhd.size()), 4);
    form.insert(form.end(), bmhd.begin(), bmhd.end());
    Put(&form, "BODY"), PutBE(&form, static_cast<uint32_t>(body.size()), 4);
    form.insert(form.end(), body.begin(), body.end());
    Bytes b;
    Put(&b, "FORM"), PutBE(&b, static_cast<uint32_t>(form.size()), 4);
    b.insert(b.end(), form.begin(), form.end());
    return b;
}

class PictureBoundsTest : public ::testing::Test {
protected:
    // Loads the bytes through the loader chain (the platform decoder
    // behind the inbuilt readers); the code, and the loaded size.
    int Load(const std::string& name, const Bytes& bytes, qbLoadedImage* img) {
        const std::string path = dir.File(name);
        WriteBytes(path, bytes);
        qbImageLoadParams p;
        p.fileName = path.c_str();
        return LoadImageThroughLoaders(p, img);
    }
    ScratchDir dir;
};

// Every inbuilt reader, and the platform decoder behind it, refuses a few
// bytes that claim a picture of gigabytes before it takes the memory.
TEST_F(PictureBoundsTest, AFewBytesClaimingGigabytesAreRefusedWithoutTheMemory) {
    const struct {
        const char* name;
        Bytes bytes;
    } claims[] = {
        {"claim.jpg", ClaimingJpeg(GreyJpeg(16, 16, false), 23000, 23000)},
        {"claim.gif", ClaimingGif()},
        {"claim.png", ClaimingPng()},
        {"claim.bmp", ClaimingBmp()},
        {"claim.iff", ClaimingIlbm()},
    };
    for (const auto& claim : claims) {
        int err = -1;
        const uint64_t growth = PeakGrowth([&] {
            qbLoadedImage img;
            err = Load(claim.name, claim.bytes, &img);
        });
        EXPECT_EQ(err, ERR_MEM) << claim.name << ", " << claim.bytes.size() << " bytes";
        EXPECT_LT(growth, kMostGrowth) << claim.name;
    }
    EXPECT_EQ(ClaimingGif().size(), 35u);
    EXPECT_EQ(ClaimingBmp().size(), 70u);
}

// Pictures above the free size, as tight as their encoders make them (a
// flat picture), load whole; so does such a JPEG cut short, its bytes
// still enough for its size.
TEST_F(PictureBoundsTest, TightlyCodedLargePicturesLoad) {
    constexpr int kSide = 4200;  // 17.6 million pixels, above the free size
    static_assert(uint64_t{kSide} * kSide > kPixelsFreeOfData);
    std::vector<std::pair<std::string, Bytes>> pictures;
    pictures.emplace_back("flat.jpg", GreyJpeg(kSide, kSide, false));
    pictures.emplace_back("flatprogressive.jpg", GreyJpeg(kSide, kSide, true));
    Bytes cut = pictures[0].second;
    cut.resize(cut.size() * 2 / 3);
    pictures.emplace_back("cut.jpg", cut);
    pictures.emplace_back("flat.bmp", FlatRleBmp(kSide, kSide, 77));
    {
        const std::string path = dir.File("flat.png");
        PngPicture flat;
        flat.width = flat.height = kSide;
        flat.rows.assign(kSide, Bytes(size_t{kSide} * 3, 0x50));
        ASSERT_TRUE(WritePngWithLibpng(path, flat));
        pictures.emplace_back("flat.png", ReadBytes(path));
    }
#ifdef QB_TEST_HAVE_GIFLIB
    {
        const std::string path = dir.File("flat.gif");
        int error = 0;
        GifFileType* gif = EGifOpenFileName(path.c_str(), false, &error);
        ASSERT_NE(gif, nullptr);
        GifColorType colours[2] = {{0x40, 0x50, 0x60}, {0, 0, 0}};
        ColorMapObject* map = GifMakeMapObject(2, colours);
        EGifPutScreenDesc(gif, kSide, kSide, 1, 0, map);
        EGifPutImageDesc(gif, 0, 0, kSide, kSide, false, nullptr);
        std::vector<GifPixelType> row(kSide, 0);
        for (int y = 0; y < kSide; ++y) EGifPutLine(gif, row.data(), kSide);
        EGifCloseFile(gif, &error);
        GifFreeMapObject(map);
        pictures.emplace_back("flat.gif", ReadBytes(path));
    }
#endif
    for (const auto& [name, bytes] : pictures) {
        qbLoadedImage img;
        ASSERT_EQ(Load(name, bytes, &img), 0) << name << ", " << bytes.size() << " bytes";
        EXPECT_EQ(img.width, kSide) << name;
        EXPECT_EQ(img.height, kSide) << name;
        // Over a hundred pixels a byte: near what each coding can reach.
        EXPECT_GT(uint64_t{kSide} * kSide / bytes.size(), 100u) << name;
    }
}

}  // namespace
