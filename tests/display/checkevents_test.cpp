// CheckEvents over a long queue: more events than a command's frame has
// slots for values (2048), so that an event which left anything behind on
// the way to the next would cut the queue short.
#include <string>
#include <vector>

#include "eventlib_fixture.h"

namespace {

class CheckEventsTest : public EventWorld {};

TEST_F(CheckEventsTest, EveryEventOfALongQueueIsDelivered) {
    DefineEmitter("key", "key", "key");
    ASSERT_EQ(Install({{"onkeydown", "key"}}), 0);
    constexpr int kEvents = 2500;
    for (int i = 0; i < kEvents; ++i) {
        Key('a' + i % 26, true);
        Key('a' + i % 26, false);
    }
    ASSERT_EQ(Call("checkevents"), 0);
    ASSERT_EQ(out.size(), size_t{kEvents});
    EXPECT_EQ(out.back(), std::string("key OnKeyDown ") + char('a' + (kEvents - 1) % 26));
}

}  // namespace
