#!/usr/bin/env bash
# scripts/check_frame_rate.sh [ROOT]: fails, naming file and line, on a call
# of FFmpeg's frame rate guess outside src/platform/linux/avcommon.h. Where
# nothing measured a rate it answers the time base's (1000 pictures a second
# in Matroska), which paced as a picture's length drops pictures and counted
# against the duration multiplies them; MeasuredFrameRate there answers 0/0
# instead (src/README.md, "Movie decoders").
set -euo pipefail
root="${1:-$(cd "$(dirname "$0")/.." && pwd)}"
source "$(dirname "$0")/one_caller.sh"
cd "$root"
one_caller check_frame_rate src/platform/linux/avcommon.h '\bav_guess_frame_rate\b' \
    "take a stream's rate from av_common::MeasuredFrameRate (src/platform/linux/avcommon.h)"
