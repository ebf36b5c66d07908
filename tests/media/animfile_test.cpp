// The anim-format layer: the choice of reader by the first bytes, its
// errors, GIFs as anims, and anim-loader plugins before the inbuilt readers.
#include <gtest/gtest.h>

#include <memory>

#include "animtest.h"
#include "core/plugincaps.h"
#include "core/pluginadapters.h"
#include "imaging/giffixtures.h"
#include "media/animplugins.h"

using animtest::Frame;
using animtest::Open;

namespace {

std::string WriteFile(const imagefixtures::ScratchDir& dir, const std::string& name, const std::vector<uint8_t>& b) {
    const std::string path = dir.File(name);
    imagefixtures::WriteBytes(path, b);
    return path;
}

std::vector<uint8_t> Gif(int frames) {
    giffixtures::GifFile gif(2, 2);
    for (int f = 0; f < frames; ++f) {
        gif.Control(0, -1, 5 + f);
        gif.Image(0, 0, 2, 2, {static_cast<uint8_t>(f), 1, 2, 3}, 2);
    }
    return gif.Bytes();
}

// A file adapter serving "stream:" names that can't seek.
size_t StreamRead(void* h, void* buffer, size_t count) {
    auto* left = static_cast<std::vector<uint8_t>*>(h);
    count = std::min(count, left->size());
    std::copy(left->begin(), left->begin() + static_cast<long>(count), static_cast<uint8_t*>(buffer));
    left->erase(left->begin(), left->begin() + static_cast<long>(count));
    return count;
}

}  // namespace

TEST(AnimFileTest, ReaderChoiceAndErrors) {
    imagefixtures::ScratchDir dir;
    EXPECT_EQ(Open(dir.File("missing.anim")).err, ERR_READFILE);
    EXPECT_EQ(Open(WriteFile(dir, "short", {'F', 'O', 'R', 'M', 0, 0, 0, 4, 'A', 'N', 'I'})).err, ERR_READ);
    // RIFF but not AVI, and no known format: the platform has no anim opener.
    EXPECT_EQ(Open(WriteFile(dir, "wave", {'R', 'I', 'F', 'F', 4, 0, 0, 0, 'W', 'A', 'V', 'E'})).err, ERR_OPENANIM2);
    EXPECT_EQ(Open(WriteFile(dir, "text", std::vector<uint8_t>(40, 'x'))).err, ERR_OPENANIM2);
    // "native" alone never opens the inbuilt readers.
    const std::string gif = WriteFile(dir, "two.gif", Gif(2));
    EXPECT_EQ(Open(gif, kDeinterlaceDefault, false, "native").err, ERR_OPENANIM2);

    auto a = Open(gif);
    ASSERT_EQ(a.err, 0);
    EXPECT_EQ(a.frames, 2);
    EXPECT_EQ(GetAnimFileFrameDelay(a.anim.get(), 1), 60u);
    const auto f1 = Frame(a, 1);
    ASSERT_EQ(f1.size(), 4u);
    EXPECT_EQ(f1[0] & 0xFFFFFF, giffixtures::GifFile::Colour(1));
    EXPECT_EQ(IsAnimFile(gif.c_str(), nullptr, nullptr, kAnimOpenMode), 1);
    EXPECT_EQ(IsAnimFile(WriteFile(dir, "one.gif", Gif(1)).c_str(), nullptr, nullptr, kAnimOpenMode), 0);
    EXPECT_EQ(IsAnimFile(dir.File("missing").c_str(), nullptr, nullptr, kAnimOpenMode), 0);
}

TEST(AnimFileTest, FileThatCannotSeekIsRefused) {
    static std::vector<uint8_t> served;
    served = Gif(2);
    qbAdapterPlugin adapter;
    adapter.name = "streamfs";
    adapter.slots.FOpen = [](const char* name, int, const qbFileTag* tags) -> void* {
        if (std::string(name).rfind("stream:", 0) != 0) return nullptr;
        for (const qbFileTag* t = tags; t->tag != kFileTagEnd; ++t)
            if (t->tag == kFileTagStreamFlags) *reinterpret_cast<uint32_t*>(t->value) = kStreamFlagStreaming | kStreamFlagNoSeek;
        return new std::vector<uint8_t>(served);
    };
    adapter.slots.FClose = [](void* h) {
        delete static_cast<std::vector<uint8_t>*>(h);
        return 1;
    };
    adapter.slots.FRead = StreamRead;
    adapter.slots.FGetC = [](void* h) {
        uint8_t c;
        return StreamRead(h, &c, 1) ? static_cast<int>(c) : -1;
    };
    adapter.slots.FSeek = [](void*, int64_t, int) -> int64_t { return -1; };
    adapter.slots.FEof = [](void* h) { return static_cast<std::vector<uint8_t>*>(h)->empty() ? 1 : 0; };
    ASSERT_EQ(AddAdapterPlugin(kPluginCapsFileAdapter, &adapter), 0);
    EXPECT_EQ(Open("stream:walk.gif").err, ERR_SEEKFILE);
    RemoveAdapterPlugin(kPluginCapsFileAdapter, &adapter);
}

TEST(AnimFileTest, PluginsComeFirstUnlessMarshalled) {
    imagefixtures::ScratchDir dir;
    const std::string gif = WriteFile(dir, "two.gif", Gif(2));
    static int opens = 0, closes = 0;
    static uint32_t frame[4] = {1, 2, 3, 4};
    qbAnimLoaderSlots slots;
    slots.OpenAnim = [](const char*, qbAnimOpenRequest* r) -> void* {
        ++opens;
        r->width = 2;
        r->height = 2;
        r->frameCount = 9;
        return &opens;
    };
    slots.LoadFrame = [](void*, int32_t, qbAnimFrameRequest* r) -> uint32_t* {
        r->transparency = 1;
        return frame;
    };
    slots.FreeFrame = [](void*, uint32_t*) {};
    slots.GetFrameDelay = [](void*, int32_t f) { return f * 10; };
    slots.CloseAnim = [](void*) { ++closes; };
    qbPlugin plugin;
    plugin.name = "animfake";
    SetAnimLoaderSlots(&plugin, &slots);
    ASSERT_EQ(AddLoadedPluginToList(PLUGINCAPS_ANIM, &plugin), 0);
    {
        auto a = Open(gif);
        ASSERT_EQ(a.err, 0);
        EXPECT_EQ(a.frames, 9);
        int32_t keyed = 0;
        EXPECT_EQ(Frame(a, 3, &keyed), std::vector<uint32_t>(frame, frame + 4));
        EXPECT_EQ(keyed, 1);
        EXPECT_EQ(GetAnimFileFrameDelay(a.anim.get(), 3), 30u);
        // Named away from the plugin, the inbuilt reader serves.
        auto b = Open(gif, kDeinterlaceDefault, false, "inbuilt");
        EXPECT_EQ(b.frames, 2);
    }
    EXPECT_EQ(opens, 1);
    EXPECT_EQ(closes, 1);
    plugin.callingMode = kPluginCallMarshalled;
    EXPECT_EQ(Open(gif).frames, 2);
    EXPECT_EQ(opens, 1);
    RemovePluginFromCapabilityList(&plugin, PLUGINCAPS_ANIM);
    SetAnimLoaderSlots(&plugin, nullptr);
}
