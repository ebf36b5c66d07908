// The VM fixture over the runtime core: the core's host record installed
// (error texts, details, the current command and line of a raise, the
// command-error road and its settings), and the core's settings reset around
// every test.
#pragma once

#include <string>

#include "core/context.h"
#include "core/errors.h"
#include "core/settings.h"
#include "core/vmhost.h"
#include "vm/vm_fixture.h"

namespace coretest {

class HostedVmFixture : public vmtest::VmFixture {
protected:
    void SetUp() override {
        ResetRuntimeSettings();
        ResetCurrentCommandInfo();
        SetCurrentSourceName("?");
        SetErrorDetail("");
        VmFixture::SetUp();
        InstallVmHost();
    }
    void TearDown() override {
        VmFixture::TearDown();
        ResetRuntimeSettings();
        ResetCurrentCommandInfo();
    }

    std::string Detail() const { return GetErrorDetail(); }
};

}  // namespace coretest
