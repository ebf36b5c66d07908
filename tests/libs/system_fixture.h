// The VM fixture over the runtime core and the system library's side of the
// host: the script's own error handler and GetLastError, with the debug
// output off.
#pragma once

#include "core/hosted_fixture.h"
#include "libs/errorhandler.h"

namespace libstest {

class SystemVmFixture : public coretest::HostedVmFixture {
protected:
    void SetUp() override {
        SetCallTracing(false);
        HostedVmFixture::SetUp();
        InstallVmHost(OfferToErrorHandler, cmdGetLastError);
    }
};

}  // namespace libstest
