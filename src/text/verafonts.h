// The three Bitstream Vera faces held inside the program (Sans, Serif, Sans
// Mono), compiled in from a source generated at build time.
#pragma once

#include <cstddef>

struct qbEmbeddedFont {
    const unsigned char* data;
    size_t size;
};

// which: 0 Sans, 1 Serif, 2 Sans Mono; anything else gives no data.
qbEmbeddedFont GetEmbeddedVera(int which);
