// Freeing modules with each allocation failing in turn: freeing rebuilds
// the player of a module (as a stop does) also at shutdown, where nothing
// could take an exception; memory running out there must stay a code.
#include <gtest/gtest.h>

#include <unistd.h>

#include <string>

#include "core/memory.h"
#include "sound/modbuilder.h"
#include "sound/music_fixture.h"

namespace music_test {
namespace {

using MusicFailAllocTest = MusicTest;

TEST_F(MusicFailAllocTest, FreeingModulesNeverThrows) {
    modbuild::Module m;
    m.instruments[0].data = modbuild::Square(256);
    const auto bytes = modbuild::Build(m);
    const std::string path = ::testing::TempDir() + "failalloc_" + std::to_string(::getpid()) + ".mod";
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    for (long n = 0;; ++n) {
        ASSERT_EQ(Call("LoadModule", [&] { N(1); S(path.c_str()); }), 0);
        SetAllocationFailCountdown(n);
        bool threw = false;
        try {
            FreeAllMusic(L_);
        } catch (...) {
            threw = true;
        }
        const bool reached = AllocationFailCountdown() >= 0;
        SetAllocationFailCountdown(-1);
        ASSERT_FALSE(threw) << "allocation " << n;
        if (reached) break;  // every allocation of the free was failed once
    }
}

}  // namespace
}  // namespace music_test
