// The line hook as start-up installs it, with the VM counting the lines
// between two looks at the clock: it still pumps, so a busy script can be
// ended from outside.
#include "eventlib_fixture.h"

namespace {

class InstalledPumpTest : public EventWorld {
protected:
    void SetUp() override {
        EventWorld::SetUp();
        InstallLineHookPump(L);
    }
};

TEST_F(InstalledPumpTest, ACloseRequestEndsABusyScript) {
    EXPECT_EQ(VmGetLineHookPeriod(L), 64);
    null_backend::ScriptEvent({d, kEventCloseRequest, 0, 0, 0});
    EXPECT_EQ(Run(".function main maxstack=2\n.line 1\nagain:\n    LOADK 0 #1\n.line 2\n    JMP again\n"
                  "    RETURN 0 1\n.end\n"),
              ERR_USERABORT);
}

}  // namespace
