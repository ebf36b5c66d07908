#!/usr/bin/env bash
# scripts/check_sws_scale.sh [ROOT]: fails, naming file and line, on a call
# of libswscale's converter (or its address taken) outside
# src/platform/linux/avscale.cpp. Its
# vector stores write past the last pixel of a plane; ScalePicture there
# refuses a buffer that lacks the slack (src/README.md, "Movie decoders").
set -euo pipefail
root="${1:-$(cd "$(dirname "$0")/.." && pwd)}"
source "$(dirname "$0")/one_caller.sh"
cd "$root"
# The peers' buffers are sized by the same rule.
one_caller check_sws_scale src/platform/linux/avscale.cpp '\bsws_(scale|scale_frame|send_slice|receive_slice)\b' \
    "call libswscale through av_common::ScalePicture (src/platform/linux/avscale.h)" \
    "tests/imaging/yuvswscale_test.cpp|libswscale's pictures, the reference our YUV converter is checked against" \
    "bench/imaging/yuvframes_bench.cpp|libswscale, the peer our YUV converter is timed against"
