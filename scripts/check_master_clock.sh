#!/usr/bin/env bash
# scripts/check_master_clock.sh [ROOT]: fails, naming file and line, on a
# read of a playing video's sound flag or audio clock outside
# src/media/videoclock.cpp. The sound is the master clock only while it
# plays: a sound that has ended stands still, and pictures timed against it
# come late; SoundIsMaster and GetMasterClock there know when it is over
# (src/README.md, "Movie decoders"). Assignments are not reads.
set -euo pipefail
root="${1:-$(cd "$(dirname "$0")/.." && pwd)}"
source "$(dirname "$0")/one_caller.sh"
cd "$root"
# ReadVideoAudio takes the audio clock to move it on with what it decodes.
one_caller check_master_clock src/media/videoclock.cpp \
    '\bhasSound\b(?!\s*=[^=])|(?<!clock = p->sync\.)\baudioClock\b(?!\s*=[^=])' \
    "time pictures by SoundIsMaster and GetMasterClock (src/media/videoclock.cpp)"
