// The position words a module player shares with the position commands:
// the renderer advances row and song position on the audio thread and takes
// a requested jump on its next tick.
#pragma once

#include <atomic>
#include <cstdint>

#include "core/argapi.h"

// A module player record starts with these words: the channel table knows
// the player by the address it hands the renderer.
struct qbModulePosition {
    std::atomic<int32_t> row{0};
    std::atomic<int32_t> songPosition{0};
    std::atomic<int32_t> jumpTo{0};
    std::atomic<bool> jump{false};
};

enum : int { kModuleSetPosition = 0, kModuleGetRow = 1, kModuleGetSongPosition = 2 };

// Mode 0 requests a jump to value (row cleared) on the channel's player, or
// on player itself when no channel plays it, and gives 0; modes 1 and 2 give
// the row and song position of the channel that plays player, -1 when none
// does; other modes give 0.
int ModulePositionOf(qbModulePosition* player, int mode, int value);

// Starts player on a channel as kind 3: the renderer fills 16-bit stereo at
// the module rate, through the adapter's callback or the mixer. 0 or
// ERR_NOCHANNEL, ERR_CHANNELRANGE, ERR_ALLOCCHANNEL, ERR_OPENAUDIO, ERR_MEM.
int StartModuleChannel(qbModulePosition* player, ObjectID owner, int32_t volume, int index, int* channel);
