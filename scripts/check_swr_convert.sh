#!/usr/bin/env bash
# scripts/check_swr_convert.sh [ROOT]: fails, naming file and line, on a
# call of libswresample's converter outside src/platform/linux/avresample.cpp.
# Given less room than its input makes, it keeps the rest, and at the end of
# a stream it holds back what its filter delays; ConvertSamples and
# DrainSamples there take all of it (src/README.md, "Movie decoders").
set -euo pipefail
root="${1:-$(cd "$(dirname "$0")/.." && pwd)}"
cd "$root"

# Files that call it as a peer our own decoder is measured against, each
# with its reason. Their output is sized by swr_get_out_samples too.
#   FILE|REASON
exceptions=(
    "bench/platform/nativesound_bench.cpp|the plain FFmpeg loop the sound decoder is timed against"
)

status=0
while IFS= read -r match; do
    file="${match%%:*}"
    [ "$file" = src/platform/linux/avresample.cpp ] && continue
    skip=0
    for entry in "${exceptions[@]}"; do
        [ "${entry%%|*}" = "$file" ] && skip=1
    done
    [ "$skip" = 1 ] && continue
    echo "$match" >&2
    status=1
done < <(grep -rnE '\bswr_(convert|convert_frame)[[:space:]]*\(' \
             --include='*.cpp' --include='*.h' --include='*.c' src fuzz tests bench tools 2>/dev/null || true)
if [ "$status" != 0 ]; then
    echo "check_swr_convert: convert sound through av_common::ConvertSamples (src/platform/linux/avresample.h)" >&2
fi
exit "$status"
