#!/usr/bin/env bash
# scripts/check_pixel_sources.sh [ROOT]: fails, naming file and line, on a
# picture buffer taken as read from no file (kPixelsNotRead), or from a
# coding whose bytes bound nothing (kUnboundedCoding), outside the places
# listed here with their reasons. A reader passes the bytes it has and its
# coding's most expansion, so that a picture is no bigger than its bytes
# can hold (src/README.md, "Allocation").
set -euo pipefail
root="${1:-$(cd "$(dirname "$0")/.." && pwd)}"
source "$(dirname "$0")/one_caller.sh"
cd "$root"
one_caller check_pixel_sources src/core/pixelbuffer.h '\bkPixelsNotRead\b|\bkUnboundedCoding\b' \
    "a picture sized by its file: give AllocImagePixels the file's bytes and its coding (FilePixelSource)" \
    "src/core/pixelbuffer.cpp@AllocImagePixels|the check itself" \
    "src/imaging/imagehandle.cpp@NewImageHandleBuffer|buffers a command or plugin asks for by size" \
    "src/imaging/loadimage.cpp@LoadImageThroughLoaders|a loaded picture scaled to the size the script asked" \
    "src/imaging/gifread.cpp@GetGIFFrame|a frame's copy of the canvas, whose size was checked against the file" \
    "src/imaging/jpegread.cpp@ReadJPEGFrom|arithmetic coding: a flat picture of any size is a few bytes in a real file" \
    "src/media/iffanim.cpp@GetIFFAnimFrame|a frame of the key frame's size, checked against the file at the open" \
    "src/media/avireader.cpp@DecodeMotionJPEG|the copy of a frame the platform decoder made" \
    "src/platform/linux/nativeimage.cpp@Decode|the copy of the frame the platform decoder made"
