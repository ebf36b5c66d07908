// CheckEvents over a long queue: more events than a command has slots for
// its own values, none of which may leave anything behind on the way to
// the next.
#include <string>
#include <vector>

#include "eventlib_fixture.h"

namespace {

class CheckEventsTest : public EventWorld {};

TEST_F(CheckEventsTest, EveryEventOfALongQueueIsDelivered) {
    DefineEmitter("key", "key", "key");
    ASSERT_EQ(Install({{"onkeydown", "key"}}), 0);
    constexpr int kEvents = 300;
    for (int i = 0; i < kEvents; ++i) {
        Key('a' + i % 26, true);
        Key('a' + i % 26, false);
    }
    ASSERT_EQ(Call("checkevents"), 0);
    ASSERT_EQ(out.size(), size_t{kEvents});
    EXPECT_EQ(out.back(), std::string("key OnKeyDown ") + char('a' + (kEvents - 1) % 26));
}

}  // namespace
