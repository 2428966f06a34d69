// The shared-instance holder: the value is built from the given arguments, reached through it,
// and never destroyed, however the holder itself goes.
#include <gtest/gtest.h>

#include "platform/NoDestructor.h"

namespace {

struct Counted {
    Counted(int start, int* counter) : value(start), destroyed(counter) {}
    ~Counted() { ++*destroyed; }
    int value;
    int* destroyed;
};

TEST(NoDestructor, BuildsFromItsArgumentsAndNeverDestroysTheValue) {
    int destroyed = 0;
    {
        platform::NoDestructor<Counted> held(7, &destroyed);
        EXPECT_EQ(held->value, 7);
        (*held).value += 1;
        const auto& view = held;
        EXPECT_EQ(view->value, 8);
        EXPECT_EQ(held.get(), &*held);
    }
    EXPECT_EQ(destroyed, 0);
}

}  // namespace
