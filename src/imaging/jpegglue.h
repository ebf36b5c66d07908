// What the JPEG reader and writer share: libjpeg's error manager turned
// into a long jump back to the function that set it, with every message
// silenced.
#pragma once

#include <cstddef>
#include <cstdio>
// jpeglib.h needs size_t and FILE declared before it.
#include <jpeglib.h>

#include <csetjmp>

struct JpegErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

// Installs the silent, jumping error manager in *manager and returns its
// public part for cinfo->err.
jpeg_error_mgr* InitJpegErrorManager(JpegErrorManager* manager);
