// The text library on a VM of its own over the Linux backend, with the
// default font open and the player quiet: where the font file tests start.
#pragma once

#include <gtest/gtest.h>

#include "core/objects.h"
#include "core/settings.h"
#include "core/vmhost.h"
#include "platform/platform.h"
#include "text/font.h"
#include "text/textlib.h"

inline void OpenTextVm(ScriptState** L) {
    SetPlatformBackend(&LinuxPlatformOps());
    InstallVmHost();
    *L = VmOpen();
    ASSERT_NE(*L, nullptr);
    VmPushValue(*L, kGlobalsIndex);
    ASSERT_EQ(InitTextLibrary(*L), 0);
    VmSetTop(*L, 0);
    ASSERT_EQ(InitDefaultFont(), 0);
    SetRuntimeTag(kTagQuiet, 1);
}

inline void CloseTextVm(ScriptState* L) {
    FreeTextLibrary(L);
    FreeObjectTypeRegistry();
    VmClose(L);
    ResetRuntimeSettings();
    SetPlatformBackend(nullptr);
}
