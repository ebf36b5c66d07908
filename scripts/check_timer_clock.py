#!/usr/bin/env python3
"""Fails on a read of a clock or a sleep in src/ outside the timers' clock
(TimerClockMicros, core/timerthread.cpp) and the places listed below with
their reasons.

Every period a script measures (its stopwatch timers, intervals, time-outs
and waits) is read on one clock, which a test replaces with one it moves by
hand; a command that read another clock, or slept by itself, would run on
real time under that test and drift from the others in use. Each form of
reading a monotonic or wall clock counts (the C++ clocks, clock_gettime's
monotonic clocks, core/ostime's readers, SDL's ticks, gettimeofday), and
each form of sleeping. The places listed measure something else: a video's
or a sound's own time, a network time-out, the pace of a drawing.

Usage:
  scripts/check_timer_clock.py              the check, as ./test runs it
  scripts/check_timer_clock.py --self-test  shows each form failing it
"""

import os
import re
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from check_native_names import each_form_fails, functions, listed_check, probe_findings, run_check  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SEAM = ("src/core/timerthread.cpp", "TimerClockMicros")
FORMS = [
    (re.compile(r"\b(?:steady_clock|system_clock|high_resolution_clock)\s*::\s*now\b"), "a C++ clock read"),
    (re.compile(r"\bCLOCK_(?:MONOTONIC|BOOTTIME)\w*"), "a monotonic clock read"),
    (re.compile(r"\b(?:GetMonotonicMicros|GetMonotonicTime|GetTimeSeconds)\b"), "a monotonic clock read"),
    (re.compile(r"\bSDL_Get(?:Ticks\w*|PerformanceCounter)\b"), "SDL's clock read"),
    (re.compile(r"\bgettimeofday\b"), "a time of day read"),
    (re.compile(r"\b(?:SleepMillis|nanosleep|clock_nanosleep|usleep|SDL_Delay|sleep_for|sleep_until)\b"), "a sleep"),
]
# (file, function): the places that read a clock or sleep, with their reasons.
ALLOWED = {
    ("src/core/ostime.cpp", "*"): "the clock readers and the sleep themselves, for what is not a timer",
    ("src/core/ostime.h", "*"): "their declarations",
    ("src/core/eventqueue.cpp", "Now"): "input events' time stamps and ages, on the queue's own test clock (SetEventClock)",
    ("src/core/extprogram.cpp", "ExternalProgramBody"): "polls a child program's end",
    ("src/core/rowworkers.cpp", "RunBands"): "a worker's spin before it sleeps: scheduling, no period",
    ("src/display/adapterinput.cpp", "PostAdapterEvent"): "the time stamp of a mouse move",
    ("src/display/displayhooks.cpp", "PostAdapterDisplayEvent"): "the time stamp of a display's close",
    ("src/display/displaywindow.cpp", "RealizeDisplay"): "the time stamp of a display's open",
    ("src/display/events.cpp", "NowMillis"): "the pace of the stale input purge",
    ("src/display/framepacing.cpp", "NowMicros"): "VWait's frame pacing, on its own test clock (SetFramePacingClock)",
    ("src/display/framepacing.cpp", "SleepFor"): "VWait's frame pacing, on its own test clock (SetFramePacingClock)",
    ("src/display/linehookpump.cpp", "LineHookPump"): "the pace of the line hook's pump",
    ("src/draw/graphicsdisplay.cpp", "cmdDumpVideoTime"): "the time since a video dump started, beside the dump's own start stamp",
    ("src/draw/movedraw.cpp", "AdvanceFrame"): "the frames of a move",
    ("src/draw/movement.cpp", "SetFirstFrameTime"): "the frames of a move",
    ("src/libs/netio.cpp", "WriteWithin"): "a network time-out",
    ("src/libs/netresolve.cpp", "BoundResolver"): "a name lookup's time-out",
    ("src/libs/netresolve.cpp", "Await"): "a name lookup's time-out",
    ("src/libs/socket.cpp", "SocketConnect"): "a connect's time-out",
    ("src/libs/socket.cpp", "NowSeconds"): "a socket's time-out (on the wall clock)",
    ("src/libs/transferhttp.cpp", "MakeBoundary"): "a form boundary's unique text",
    ("src/media/videoclock.cpp", "MonotonicSeconds"): "a video's own clock",
    ("src/media/videoplayback.cpp", "WaitBounded"): "a video thread's idle step",
    ("src/media/videoreader.cpp", "VideoReaderThread"): "a video thread's idle step",
    ("src/media/videothreads.cpp", "VideoServerThread"): "a video thread's idle step",
    ("src/media/videothreads.cpp", "VideoAudioThread"): "a video thread's idle step",
    ("src/platform/linux/fades.cpp", "RunFade"): "the frames of a screen fade, on its own test clock (fadeClock)",
    ("src/platform/linux/session.cpp", "MonotonicNanos"): "the backend's pump, clipboard and fade pace",
    ("src/platform/mixer/mixer.cpp", "NowNanos"): "the mixer's clock",
    ("src/platform/null/null_backend.cpp", "SteadyMillis"): "the in-memory backend's pump pace",
    ("src/plugins/basestdlib.cpp", "TimeOfDay"): "the plugins' gettimeofday",
    ("src/plugins/basesystem.cpp", "<file scope>"): "the plugins' sleep, a slot of their table",
    ("src/sound/adapterchannel.cpp", "AudioNowNanos"): "a sound adapter's channel clock",
    ("src/sound/musiccmds.cpp", "WaitUntil"): "the poll step of a wait for a music's position",
    ("src/sound/soundlib.cpp", "WaitUntil"): "the poll step of a wait for a sound's end",
    ("src/sound/musicfeed.cpp", "SteadyMs"): "a music feeder's clock",
}
# The network's time-outs and progress, read on one clock of their own.
for _function in ("NetDeadlineFromNow", "NetClockStart", "NetClockProgress", "NetClockDeadline", "NetClockCheck",
                  "GoOn", "CallbackRan"):
    ALLOWED[("src/libs/netclock.cpp", _function)] = "the network's time-outs"


# Preprocessor lines, blanked before functions are found: "#if defined(X)"
# would read as a function's head.
DIRECTIVE = re.compile(r"^[ \t]*#(?:[^\n]*\\\n)*[^\n]*", re.M)


def findings_in(rel, text, used):
    found = []
    bodies = functions(DIRECTIVE.sub(lambda m: re.sub(r"[^\n]", " ", m.group(0)), text))
    for form, what in FORMS:
        for m in form.finditer(text):
            around = next((b for b in bodies if b[0] < m.start() < b[1]), None)
            name = around[2] if around else "<file scope>"
            if (rel, name) == SEAM:
                continue
            for key in ((rel, name), (rel, "*")):
                if key in ALLOWED:
                    used.add(key)
                    break
            else:
                line = text.count("\n", 0, m.start()) + 1
                found.append(f"{rel}:{line}: {what} in {name}")
    return found


def check(root):
    return listed_check(root, ROOT, findings_in, ALLOWED,
                        lambda key: f"check_timer_clock.py: {key[0]} {key[1]} is listed but reads no clock any more")


# One function a form, each of which must fail the check.
PLANTED = {
    "Steady": "auto t = std::chrono::steady_clock::now();",
    "System": "auto t = std::chrono::system_clock :: now();",
    "Monotonic": "timespec ts; clock_gettime(CLOCK_MONOTONIC, &ts);",
    "Boottime": "timespec ts; clock_gettime(CLOCK_BOOTTIME, &ts);",
    "Ostime": "return GetMonotonicMicros();",
    "OstimeValue": "TimeValue t; GetMonotonicTime(&t);",
    "Seconds": "double s = GetTimeSeconds();",
    "Ticks": "return SDL_GetTicks64();",
    "TimeOfDay": "timeval tv; gettimeofday(&tv, nullptr);",
    "Sleep": "SleepMillis(20);",
    "SleepFor": "std::this_thread::sleep_for(std::chrono::milliseconds(20));",
    "Nanosleep": "nanosleep(&want, nullptr);",
    "Pointer": "auto sleep = &SleepMillis;",
}


def self_test():
    planted = "".join(f"int {name}() {{ {body} return 0; }}\n" for name, body in PLANTED.items())
    clean = "int Clean() { return TimerClockMicros() > 0; } // steady_clock::now() in a comment\n"
    found = probe_findings(check, clean, planted + "auto kNow = std::chrono::steady_clock::now();\n")
    if found is None:
        return 1
    if not each_form_fails(found, list(PLANTED) + ["<file scope>"], lambda f, name: f" in {name}" == f[f.rindex(" in "):]):
        return 1
    # In the seam's own file only the seam may read the clock.
    with tempfile.TemporaryDirectory() as root:
        os.makedirs(os.path.join(root, "src", "core"))
        with open(os.path.join(root, *SEAM[0].split("/")), "w") as handle:
            handle.write("int64_t TimerClockMicros() { return steady_clock::now().time_since_epoch().count(); }\n"
                         "void RunUntilStopped() { auto now = steady_clock::now(); }\n")
        seam = check(root)
    if [f.split(":")[1] for f in seam] != ["2"]:
        print(f"self-test: the seam's file gave {seam}, not one finding at line 2")
        return 1
    print(f"self-test: each of {len(PLANTED) + 2} forms fails the check, e.g. {found[0]}")
    return 0


if __name__ == "__main__":
    sys.exit(run_check(check, self_test, ROOT,
                       "check_timer_clock: read the timers' clock (TimerClockMicros, src/core/timerthread.h) and wait "
                       "through the timer thread, or list the place in scripts/check_timer_clock.py with its reason"))
