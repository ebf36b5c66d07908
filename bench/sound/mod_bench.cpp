// Rendering a four-channel module at 48 kHz (filter off and on) against
// libxmp and libopenmpt on the same module, where the distribution has them:
// items are output frames, so frames/s / 48000 is module-seconds per CPU-second.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "../../tests/sound/modbuilder.h"
#include "sound/modplayer.h"

#if QB_BENCH_HAVE_XMP
#include <xmp.h>
#endif
#if QB_BENCH_HAVE_OPENMPT
#include <libopenmpt/libopenmpt.h>
#endif

namespace {

constexpr int kSeconds = 60;
constexpr int kChunk = 4800;

// Notes on every channel every row, with slides, vibrato and volume work.
const std::vector<uint8_t>& Song() {
    static const std::vector<uint8_t> bytes = [] {
        modbuild::Module m;
        m.songLength = 4;
        for (int i = 0; i < 4; ++i) m.order[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
        for (int i = 0; i < 4; ++i) {
            m.instruments[static_cast<size_t>(i)].data = modbuild::Square(2048, static_cast<size_t>(16 << (i % 3)));
            m.instruments[static_cast<size_t>(i)].loopStartWords = 256;
            m.instruments[static_cast<size_t>(i)].loopLengthWords = 768;
        }
        const int periods[] = {856, 678, 570, 428, 339, 285, 214, 170};
        const int effects[] = {0x0, 0x1, 0x2, 0x4, 0xA, 0x7, 0x0, 0xC};
        for (int p = 0; p < 4; ++p)
            for (int r = 0; r < 64; ++r)
                for (int c = 0; c < 4; ++c)
                    m.At(p, r, c) = {periods[(r + c + p) % 8], 1 + (r + c) % 4, effects[(r * 3 + c) % 8],
                                     effects[(r * 3 + c) % 8] == 0xC ? 48 : 0x23};
        return modbuild::Build(m);
    }();
    return bytes;
}

void BM_ModuleRender(benchmark::State& state) {
    const std::vector<uint8_t>& song = Song();
    std::vector<int16_t> out(2 * kChunk);
    for (auto _ : state) {
        auto p = std::make_unique<ModPlayer>();
        ParseModule(song.data(), song.size(), *p);
        p->filterOn = state.range(0) != 0;
        for (int i = 0; i < kSeconds * 48000 / kChunk; ++i) RenderModuleAudio(static_cast<qbModulePosition*>(p.get()), out.data(), kChunk);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * kSeconds * 48000);
}
BENCHMARK(BM_ModuleRender)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

#if QB_BENCH_HAVE_XMP
void BM_Libxmp(benchmark::State& state) {
    const std::vector<uint8_t>& song = Song();
    std::vector<int16_t> out(2 * kChunk);
    for (auto _ : state) {
        xmp_context c = xmp_create_context();
        xmp_load_module_from_memory(c, song.data(), static_cast<long>(song.size()));
        xmp_start_player(c, 48000, 0);
        for (int i = 0; i < kSeconds * 48000 / kChunk; ++i) xmp_play_buffer(c, out.data(), 4 * kChunk, 0);
        xmp_end_player(c);
        xmp_release_module(c);
        xmp_free_context(c);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * kSeconds * 48000);
}
BENCHMARK(BM_Libxmp)->Unit(benchmark::kMillisecond);
#endif

#if QB_BENCH_HAVE_OPENMPT
void BM_Libopenmpt(benchmark::State& state) {
    const std::vector<uint8_t>& song = Song();
    std::vector<int16_t> out(2 * kChunk);
    for (auto _ : state) {
        openmpt_module* mod = openmpt_module_create_from_memory2(song.data(), song.size(), nullptr, nullptr, nullptr,
                                                                 nullptr, nullptr, nullptr, nullptr);
        openmpt_module_set_repeat_count(mod, -1);
        for (int i = 0; i < kSeconds * 48000 / kChunk; ++i)
            openmpt_module_read_interleaved_stereo(mod, 48000, kChunk, out.data());
        openmpt_module_destroy(mod);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * kSeconds * 48000);
}
BENCHMARK(BM_Libopenmpt)->Unit(benchmark::kMillisecond);
#endif

}  // namespace
