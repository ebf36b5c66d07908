// A requester of the system library belongs to the current display: the
// keys held when it opened are let go there once it has closed.
#include "display/displaylib_fixture.h"
#include "libs/systemcommands.h"
#include "platform/null/null_backend.h"

namespace {

class RequesterDisplayTest : public DisplayLibWorld {};

TEST_F(RequesterDisplayTest, TheCurrentDisplaysInputIsFreshAfterARequester) {
    ASSERT_EQ(Create(1, [&] { Field("active", 1); }), 0);
    ASSERT_EQ(StartDisplays(L_), 0);
    qbDisplay* d = Find(1);
    ASSERT_EQ(GetCurrentDisplay(), d);
    d->keyState[10] = 1;
    d->lastButtonWord[0] = 1;
    null_backend::QueueRequesterAnswer(null_backend::RequesterAnswer{0, 1, {}, {}});
    VmPushCClosure(L_, cmdSystemRequest, 0);
    VmPushString(L_, "t");
    VmPushString(L_, "b");
    VmPushString(L_, "Yes|No");
    ASSERT_EQ(VmPCall(L_, 3, 1, 0), 0);
    EXPECT_EQ(VmToNumber(L_, -1), 1);
    EXPECT_EQ(d->keyState[10], 0);
    EXPECT_EQ(d->lastButtonWord[0], 0);
    EXPECT_EQ(d->view.requesterOpen, 0);
}

}  // namespace
