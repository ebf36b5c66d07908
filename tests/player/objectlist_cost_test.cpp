// What a script's objects cost to make and to free, kind by kind: freeing
// them newest-first costs what freeing them oldest-first does, and making
// four times as many costs about four times as much. A list that walks from
// its head to unlink or to append turns either into a square. Costs are the
// thread's CPU time, the best of three runs, so a loaded machine slows both
// sides alike.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "command_call.h"
#include "core/applet.h"
#include "core/errcodes.h"
#include "cpu_time.h"
#include "core/linkeddata.h"
#include "core/runstate.h"
#include "core/settings.h"
#include "core/timers.h"
#include "core/timerthread.h"
#include "display/displays.h"
#include "libs/dos.h"
#include "draw/asyncdraw.h"
#include "platform/null/null_backend.h"
#include "player/cmdline.h"
#include "player/startup.h"
#include "vm/vm.h"

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr int kCount = 20000;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr int kCount = 20000;
#else
constexpr int kCount = 80000;
#endif
#else
constexpr int kCount = 80000;
#endif

// A player with every library open and no applet run.
class PlayerLibraries : public ::testing::Test {
protected:
    void SetUp() override {
        SetShuttingDown(false);
        ResetRuntimeSettings();
        null_backend::Reset();
        L = VmOpen();
        ASSERT_NE(L, nullptr);
        SetMainState(L);
        BuildLinkMarker(&marker_);
        std::vector<std::string> args{"quenbrookplayer", "-quiet", "costs.qba"};
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        ASSERT_EQ(ParseCommandLine(L, &cl_, &applet_, &marker_, static_cast<int>(args.size()), argv.data()), 0);
    }
    void TearDown() override {
        if (L) Shutdown(0, L, &cl_, &applet_);
        SetShuttingDown(false);
        StopTimerThread();
        if (!folder_.empty()) std::filesystem::remove_all(folder_);
    }

    // A script function that counts its calls.
    static int Count(ScriptState*) {
        ++calls;
        return 0;
    }
    static inline long calls = 0;

    // Calls command(number, more...) where more are numbers or strings;
    // "<fn>" is a counting function, "<events>" a button's event table of
    // it, "<file>" a file name of the number in the test's folder.
    int Call(const char* command, int number, const std::vector<std::string>& more = {}) {
        VmSetTop(L, 0);
        VmPushNumber(L, number);
        for (const std::string& m : more) {
            char* end = nullptr;
            const double n = std::strtod(m.c_str(), &end);
            if (m == "<fn>") {
                VmPushCClosure(L, Count, 0);
            } else if (m == "<events>") {
                VmPushNewTable(L);
                VmPushString(L, "onmousedown");
                VmPushCClosure(L, Count, 0);
                VmSetTableAt(L, -3);
            } else if (m == "<file>") {
                VmPushString(L, (folder_ / ("f" + std::to_string(number))).c_str());
            } else if (!m.empty() && *end == '\0') {
                VmPushNumber(L, n);
            } else {
                VmPushString(L, m.c_str());
            }
        }
        const int err = CallCommand(L, command, static_cast<int>(more.size()) + 1, 0);
        VmSetTop(L, 0);
        return err;
    }

    struct Kind {
        const char* make;
        std::vector<std::string> makeArgs;
        const char* free;
    };

    // The best of three: making count objects numbered from 1, and freeing
    // them in the order asked.
    struct Costs {
        double make = 1e9;
        double free = 1e9;
    };
    Costs Measure(const Kind& k, int count, bool newestFirst) {
        Costs best;
        for (int run = 0; run < 3; ++run) {
            const double start = ThreadCpuSeconds();
            for (int i = 1; i <= count; ++i)
                if (int err = Call(k.make, i, k.makeArgs)) {
                    ADD_FAILURE() << k.make << "(" << i << ") -> " << err;
                    return best;
                }
            const double made = ThreadCpuSeconds();
            for (int n = 0; n < count; ++n)
                if (int err = Call(k.free, newestFirst ? count - n : n + 1)) {
                    ADD_FAILURE() << k.free << " -> " << err;
                    return best;
                }
            const double freed = ThreadCpuSeconds();
            best.make = std::min(best.make, made - start);
            best.free = std::min(best.free, freed - made);
        }
        return best;
    }

    // Figures this small are the clock's and the allocator's, not the list's.
    static double Floor(double seconds) { return std::max(seconds, 0.02); }

    void CheckKind(const Kind& k, int count = kCount) {
        const Costs oldest = Measure(k, count, false);
        const Costs newest = Measure(k, count, true);
        const Costs quarter = Measure(k, count / 4, false);
        std::printf("%-18s make %d %.3f s, a quarter %.3f s; free oldest-first %.3f s, newest-first %.3f s\n", k.make,
                    count, oldest.make, quarter.make, oldest.free, newest.free);
        std::fflush(stdout);
        EXPECT_LE(newest.free, 4 * Floor(oldest.free)) << k.free << " newest-first";
        EXPECT_LE(oldest.free, 8 * Floor(quarter.free)) << k.free << " of four times as many";
        EXPECT_LE(oldest.make, 8 * Floor(quarter.make)) << k.make << " of four times as many";
    }

    int WaitEvent() {
        VmSetTop(L, 0);
        const int err = CallCommand(L, "WaitEvent", 0, 0);
        VmSetTop(L, 0);
        return err;
    }

    // An open display, whose picture takes buttons.
    void OpenDisplay() {
        VmSetTop(L, 0);
        VmPushNumber(L, 1);
        VmPushNewTable(L);
        for (const char* side : {"width", "height"}) {
            VmPushString(L, side);
            VmPushNumber(L, 64);
            VmSetTableAt(L, -3);
        }
        ASSERT_EQ(CallCommand(L, "CreateDisplay", 2, 0), 0);
        VmSetTop(L, 0);
        ASSERT_EQ(StartDisplays(L), 0);
    }

    ScriptState* L = nullptr;
    std::filesystem::path folder_;
    qbCommandLine cl_{};
    qbApplet applet_{};
    qbLinkMarker marker_{};
};

TEST_F(PlayerLibraries, EveryKindIsMadeAndFreedInTimeLinearInItsCount) {
    ASSERT_EQ(Call("CreateBrush", 1000000, {"1", "1", "255"}), 0);
    const std::vector<Kind> kinds = {
        {"CreateBrush", {"1", "1"}, "FreeBrush"},
        {"AllocMem", {"1"}, "FreeMem"},
        {"CreateSprite", {"3", "1000000"}, "FreeSprite"},
        {"CreateAnim", {"1000000", "1", "1", "1", "1"}, "FreeAnim"},
        {"CreateTextObject", {"x"}, "FreeTextObject"},
        {"OpenFont", {":::default_sans", "12"}, "CloseFont"},
        {"StartPath", {}, "FreePath"},
        {"CreateBGPic", {"1", "1"}, "FreeBGPic"},
        {"CreateClipRegion", {"14", "0", "0", "1", "1"}, "FreeClipRegion"},
        {"StartTimer", {}, "StopTimer"},
    };
    for (const Kind& k : kinds) CheckKind(k);
}

// The event library's records and the files: timeouts and intervals (kept
// by the timer service too), buttons (newest first), key-down labels, and
// files, whose closing the C library's stream list would walk.
TEST_F(PlayerLibraries, EventRecordsAndFilesAreMadeAndFreedInTimeLinearInTheirCount) {
    // A full collection at every allocation would be what this measures,
    // for an hour under the sanitizers; the commands' own tests run there.
    if (std::getenv("QB_GC_STRESS")) GTEST_SKIP() << "a cost is measured without the collector's stress";
    ASSERT_EQ(StartTimerThread(), 0);
    OpenDisplay();
    const std::vector<Kind> kinds = {
        {"SetTimeout", {"<fn>", "3600000"}, "ClearTimeout"},
        {"SetInterval", {"<fn>", "3600000"}, "ClearInterval"},
        {"MakeButton", {"0", "0", "0", "8", "8", "<events>"}, "DeleteButton"},
        {"CreateKeyDown", {"a"}, "RemoveKeyDown"},
        {"CreateButton", {"0", "0", "8", "8"}, "RemoveButton"},
    };
    // Half the count: each of these makes more than one record (a timer of
    // the service, three label entries), and the squares show well before.
    for (const Kind& k : kinds) CheckKind(k, kCount / 2);
    // Each file holds a descriptor: as many as the limit allows, up to the
    // count the walk showed at.
    rlimit limit{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
    const int files = static_cast<int>(std::min<rlim_t>(15000, limit.rlim_cur > 200 ? limit.rlim_cur - 200 : 0));
    if (files < 4000) GTEST_SKIP() << "descriptor limit " << limit.rlim_cur;
    folder_ = std::filesystem::temp_directory_path() / ("qb_costs_" + std::to_string(getpid()));
    std::filesystem::create_directories(folder_);
    CheckKind({"OpenFile", {"<file>", std::to_string(kDosModeWrite)}, "CloseFile"}, files);
}

// A dispatcher that walked every pending timer at each look would deliver
// a fast interval a few times a second beside many waiting timeouts.
// Counted against the timer thread's firings: with 20,000 timeouts pending
// the interval is delivered at least a quarter as often per firing as with
// none.
TEST_F(PlayerLibraries, PendingTimeoutsLeaveAnIntervalItsPace) {
    if (std::getenv("QB_GC_STRESS")) GTEST_SKIP() << "a cost is measured without the collector's stress";
    ASSERT_EQ(StartTimerThread(), 0);
    auto deliveredPerFiring = [&] {
        calls = 0;
        EXPECT_EQ(Call("SetInterval", 1, {"<fn>", "1"}), 0);
        const uint64_t start = CountTimerFirings();
        while (CountTimerFirings() < start + 300)
            if (WaitEvent() != 0) break;
        const double share = static_cast<double>(calls) / static_cast<double>(CountTimerFirings() - start);
        EXPECT_EQ(Call("ClearInterval", 1), 0);
        return share;
    };
    const double alone = deliveredPerFiring();
    for (int i = 1; i <= 20000; ++i) ASSERT_EQ(Call("SetTimeout", i, {"<fn>", "3600000"}), 0);
    const double beside = deliveredPerFiring();
    std::printf("interval deliveries per firing: %.3f alone, %.3f beside 20,000 timeouts\n", alone, beside);
    EXPECT_GE(beside, alone / 4);
}

// Async draws end by their own road (a finished transition, a cancel), not
// by a script's number: the list is driven directly.
TEST_F(PlayerLibraries, AsyncDrawsLeaveTheirListInConstantTime) {
    auto measure = [&](int count, bool newestFirst) {
        double best = 1e9;
        for (int run = 0; run < 3; ++run) {
            std::vector<qbAsyncDraw*> made(static_cast<size_t>(count));
            for (qbAsyncDraw*& r : made) EXPECT_EQ(AddAsyncDraw(1, qbAsyncDrawCallbacks{}, nullptr, &r), 0);
            const double start = ThreadCpuSeconds();
            for (int n = 0; n < count; ++n) RemoveAsyncDraw(L, made[static_cast<size_t>(newestFirst ? count - 1 - n : n)], 0);
            best = std::min(best, ThreadCpuSeconds() - start);
        }
        return best;
    };
    const double oldest = measure(kCount, false);
    const double newest = measure(kCount, true);
    std::printf("async draws: free oldest-first %.3f s, newest-first %.3f s\n", oldest, newest);
    EXPECT_LE(newest, 4 * Floor(oldest));
}

}  // namespace
