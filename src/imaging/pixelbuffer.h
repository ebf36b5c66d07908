// Picture pixel buffers live in core, so that the backend's image codecs
// size theirs under the same cap.
#pragma once

#include "core/pixelbuffer.h"
