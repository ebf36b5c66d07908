#!/usr/bin/env bash
# scripts/check_sws_scale.sh [ROOT]: fails, naming file and line, on a call
# of libswscale's converter outside src/platform/linux/avscale.cpp. Its
# vector stores write past the last pixel of a plane; ScalePicture there
# refuses a buffer that lacks the slack (src/README.md, "Movie decoders").
set -euo pipefail
root="${1:-$(cd "$(dirname "$0")/.." && pwd)}"
cd "$root"

# Files that call it as a peer our own converter is measured against, each
# with its reason. Their buffers are sized by the same rule.
#   FILE|REASON
exceptions=(
    "tests/imaging/yuvswscale_test.cpp|libswscale's pictures, the reference our YUV converter is checked against"
    "bench/imaging/yuvframes_bench.cpp|libswscale, the peer our YUV converter is timed against"
)

status=0
while IFS= read -r match; do
    file="${match%%:*}"
    [ "$file" = src/platform/linux/avscale.cpp ] && continue
    skip=0
    for entry in "${exceptions[@]}"; do
        [ "${entry%%|*}" = "$file" ] && skip=1
    done
    [ "$skip" = 1 ] && continue
    echo "$match" >&2
    status=1
done < <(grep -rnE '\bsws_(scale|scale_frame|send_slice|receive_slice)[[:space:]]*\(' \
             --include='*.cpp' --include='*.h' --include='*.c' src fuzz tests bench tools 2>/dev/null || true)
if [ "$status" != 0 ]; then
    echo "check_sws_scale: call libswscale through av_common::ScalePicture (src/platform/linux/avscale.h)" >&2
fi
exit "$status"
