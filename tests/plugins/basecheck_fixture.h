// The base-table exerciser plugin loaded into a VM of its own; Call runs
// one of its commands and reads its one result.
#pragma once

#include <cctype>
#include <cstdio>
#include <string>
#include <variant>
#include <vector>

#include "core/settings.h"
#include "core/vmhost.h"
#include "plugin_fixture.h"
#include "plugins/pluginlibrary.h"
#include "plugins/pluginlist.h"
#include "vm/vm.h"

namespace plugintest {

using Arg = std::variant<double, std::string>;

class BaseCheckFixture : public PluginFixture {
protected:
    void SetUp() override {
        PluginFixture::SetUp();
        InstallVmHost();
        L_ = VmOpen();
        ASSERT_NE(L_, nullptr);
        qbPluginNode* node = nullptr;
        ASSERT_EQ(LoadPluginByPath(Place("basecheck", "basecheck.qbp").c_str(), 0, &node), 0);
        ASSERT_EQ(RegisterPluginFormats(L_, node), 0);
    }
    void TearDown() override {
        FreeLibraryPlugins(L_);
        VmClose(L_);
        ResetRuntimeSettings();
        PluginFixture::TearDown();
    }

    // basecheck.command(args...): its one result as text (numbers as %g).
    std::string Call(const char* command, const std::vector<Arg>& args = {}) {
        const int top = VmGetTop(L_);
        VmPushString(L_, "basecheck");
        VmGetTableAt(L_, kGlobalsIndex);
        std::string name = command;  // the VM keeps names in lower case
        for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        VmPushString(L_, name.c_str());
        VmGetTableAt(L_, -2);
        VmRemove(L_, -2);
        for (const Arg& a : args) {
            if (const double* n = std::get_if<double>(&a))
                VmPushNumber(L_, *n);
            else
                VmPushLString(L_, std::get<std::string>(a).data(), std::get<std::string>(a).size());
        }
        const int err = VmPCall(L_, static_cast<int>(args.size()), 1, 0);
        std::string out = "error " + std::to_string(err);
        if (err == 0) {
            if (VmType(L_, -1) == kTypeString) {
                out.assign(VmToCString(L_, -1), VmStrLen(L_, -1));
            } else {
                char number[64];
                snprintf(number, sizeof number, "%.17g", VmToNumber(L_, -1));
                out = number;
            }
        }
        VmSetTop(L_, top);
        return out;
    }

    ScriptState* L_ = nullptr;
};

}  // namespace plugintest
