// The brush library opened in a fresh VM: commands are called by their
// global names, as a script calls them.
#pragma once

#include <gtest/gtest.h>


#include "command_call.h"
#include "core/argapi.h"
#include "core/objects.h"
#include "core/settings.h"
#include "core/vmhost.h"
#include "display/imagecache.h"
#include "objects/brushes.h"
#include "objects/brushlib.h"
#include "objects/layersources.h"
#include "vm/vm.h"

class BrushWorld : public ::testing::Test {
protected:
    void SetUp() override {
        InstallVmHost();
        L_ = VmOpen();
        ASSERT_NE(L_, nullptr);
        VmPushValue(L_, kGlobalsIndex);
        ASSERT_EQ(InitBrushLibrary(L_), 0);
        VmSetTop(L_, 0);
        SetRuntimeTag(kTagRaiseErrors, 1);
    }
    void TearDown() override {
        FreeImageCache();
        ClearLayerSources();
        FreeAllBrushes(L_);
        FreeObjectTypeRegistry();
        VmClose(L_);
    }

    // Calls the command on the nargs values on the stack; the error code.
    int Run(const char* command, int nargs, int nresults = 0) { return CallCommand(L_, command, nargs, nresults); }

    static qbBrush* Find(ObjectID id, uint32_t flags = 0) {
        qbBrush* b = nullptr;
        GetBrushRecord(nullptr, id, &b, flags);
        return b;
    }
    static qbBrush* Find(int32_t id) { return Find(ObjectID{id, nullptr}); }

    ScriptState* L_ = nullptr;
};
