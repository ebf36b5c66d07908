#!/usr/bin/env bash
# scripts/check_swr_convert.sh [ROOT]: fails, naming file and line, on a
# call of libswresample's converter (or its address taken) outside
# src/platform/linux/avresample.cpp.
# Given less room than its input makes, it keeps the rest, and at the end of
# a stream it holds back what its filter delays; ConvertSamples and
# DrainSamples there take all of it (src/README.md, "Movie decoders").
set -euo pipefail
root="${1:-$(cd "$(dirname "$0")/.." && pwd)}"
source "$(dirname "$0")/one_caller.sh"
cd "$root"
# The peer's own output is sized by swr_get_out_samples too.
one_caller check_swr_convert src/platform/linux/avresample.cpp '\bswr_(convert|convert_frame)\b' \
    "convert sound through av_common::ConvertSamples (src/platform/linux/avresample.h)" \
    "bench/platform/nativesound_bench.cpp|the plain FFmpeg loop the sound decoder is timed against"
