// Fuzz target of the module reader and player: the file is parsed, then two
// seconds are rendered in pulls whose sizes, position jumps and filter the
// input's last bytes choose.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "fuzznote.h"
#include "sound/modplayer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto player = std::make_unique<ModPlayer>();
    const int parsed = ParseModule(data, size, *player);
    FuzzNoteValue(parsed);
    if (parsed != 0) return 0;
    const uint8_t* steer = data + (size > 16 ? size - 16 : 0);
    std::vector<int16_t> out(2 * 48000);
    int left = 2 * 48000;
    for (int i = 0; left > 0; ++i) {
        const uint8_t s = steer[i % 16];
        const int frames = std::min(left, 1 + s * 180);  // a pull is at most 48000 frames
        if (s & 1) FuzzNoteValue(ModulePositionOf(player.get(), kModuleSetPosition, s >> 1));
        player->filterOn = (s & 2) != 0;
        RenderModuleAudio(static_cast<qbModulePosition*>(player.get()), out.data(), frames);
        FuzzNote(out.data(), static_cast<size_t>(frames) * 2 * sizeof out[0]);
        left -= frames;
    }
    return 0;
}
