// The display library opened in a fresh VM over the display world: commands
// are called by their global names, as a script calls them, and option
// tables are built field by field.
#pragma once

#include <cctype>
#include <string>

#include "command_call.h"
#include "core/argapi.h"
#include "core/settings.h"
#include "core/vmhost.h"
#include "display/displaylib.h"
#include "display/displaymenus.h"
#include "display_fixture.h"
#include "vm/vm.h"

class DisplayLibWorld : public DisplayWorld {
protected:
    void SetUp() override {
        DisplayWorld::SetUp();
        FreeAllMenus();
        InstallVmHost();
        L_ = VmOpen();
        ASSERT_NE(L_, nullptr);
        VmPushValue(L_, kGlobalsIndex);
        ASSERT_EQ(InitDisplayLibrary(L_), 0);
        VmSetTop(L_, 0);
        SetRuntimeTag(kTagRaiseErrors, 1);
    }
    void TearDown() override {
        // A test's adapter plugin lives in the test's frame, gone by now.
        ClearDisplayAdapters();
        FreeAllDisplays(L_);
        FreeAllBGPics(L_);
        FreeAllMenus();
        VmClose(L_);
        DisplayWorld::TearDown();
    }

    // Calls the command on the nargs values on the stack; the error code (0
    // for success). Results stay on the stack.
    int Run(const char* command, int nargs, int nresults = 0) { return CallCommand(L_, command, nargs, nresults); }

    // Commands with only number arguments.
    int RunNumbers(const char* command, std::initializer_list<double> args) {
        for (double a : args) VmPushNumber(L_, a);
        return Run(command, static_cast<int>(args.size()));
    }

    // CreateDisplay(id, table): the table built by fill on the stack top.
    template <class Fill>
    int Create(int32_t id, Fill fill) {
        VmPushNumber(L_, id);
        VmPushNewTable(L_);
        fill();
        return Run("CreateDisplay", 2);
    }
    int Create(int32_t id) {
        return Create(id, [] {});
    }

    static qbDisplay* Find(int32_t id) {
        qbDisplay* d = nullptr;
        GetDisplayRecord(ObjectID{id, nullptr}, &d);
        return d;
    }

    void Field(const char* key, int32_t value) { SetTableFieldInt(L_, key, value); }
    void Field(const char* key, const char* value) { SetTableFieldString(L_, key, value); }

    // A picture that is a bitmap already, as after the first display opened.
    static void PicturesReady() { SetPicturesPending(false); }

    ScriptState* L_ = nullptr;
};
