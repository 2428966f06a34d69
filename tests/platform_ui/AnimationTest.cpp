// Animations on the main loop's manual clock: the end state at once, the completion after the
// duration, and a superseded animation reported as not finished.
#include "platform/ui/Animation.h"

#include "platform/ui/View.h"
#include "tests/platform_ui/UiTest.h"

using namespace platform;

namespace {

class AnimationTest : public ui_test::UiTest {
  protected:
    std::shared_ptr<View> view = std::make_shared<View>(Rect{0, 0, 100, 100});
    std::vector<std::string> done;
    std::function<void(bool)> record(std::string name) {
        return [this, name](bool finished) { done.push_back(name + (finished ? " yes" : " no")); };
    }
};

TEST_F(AnimationTest, EndStateIsSetAtOnceAndCompletionFollowsAfterDelayAndDuration) {
    View::animate(
        0.3, [&] { view->setAlpha(0.5); }, record("fade"), 0.2);
    EXPECT_DOUBLE_EQ(view->alpha(), 0.5);
    EXPECT_EQ(animation::pendingCount(), 1u);
    advance(0.49);
    EXPECT_TRUE(done.empty());
    advance(0.02);
    EXPECT_EQ(done, (std::vector<std::string>{"fade yes"}));
    EXPECT_EQ(animation::pendingCount(), 0u);
}

TEST_F(AnimationTest, ALaterAnimationOfTheSamePropertySupersedesTheEarlierOne) {
    View::animate(
        0.3, [&] { view->setAlpha(0); }, record("hide"));
    advance(0.1);
    View::animate(
        0.3, [&] { view->setAlpha(1); }, record("show"));
    EXPECT_DOUBLE_EQ(view->alpha(), 1);
    drain();
    EXPECT_EQ(done, (std::vector<std::string>{"hide no"}));
    advance(0.3);
    EXPECT_EQ(done, (std::vector<std::string>{"hide no", "show yes"}));
}

TEST_F(AnimationTest, PartlySupersededAnimationEndsOnTimeButNotFinished) {
    auto other = std::make_shared<View>();
    View::animate(
        0.3,
        [&] {
            view->setCenter({5, 5});
            other->setAlpha(0.2);
        },
        record("both"));
    View::animate(
        0.1, [&] { other->setAlpha(0.9); }, record("alpha"));
    advance(0.1);
    EXPECT_EQ(done, (std::vector<std::string>{"alpha yes"}));
    advance(0.2001);
    EXPECT_EQ(done, (std::vector<std::string>{"alpha yes", "both no"}));
}

TEST_F(AnimationTest, DifferentPropertiesOrViewsDoNotInterfere) {
    View::animate(
        0.3, [&] { view->setAlpha(0.5); }, record("alpha"));
    View::animate(
        0.3, [&] { view->setBackgroundColor(Color::black()); }, record("colour"));
    advance(0.3);
    EXPECT_EQ(done, (std::vector<std::string>{"alpha yes", "colour yes"}));
}

TEST_F(AnimationTest, AnAnimationThatChangesNothingCompletesOnTheNextTurn) {
    View::animate(
        5, [] {}, record("empty"));
    EXPECT_TRUE(done.empty());
    drain();
    EXPECT_EQ(done, (std::vector<std::string>{"empty yes"}));
}

TEST_F(AnimationTest, AViewDroppedMidAnimationLeavesTheCompletionOnTime) {
    auto doomed = std::make_shared<View>();
    View::animate(
        0.3,
        [&] {
            doomed->setFrame({1, 2, 3, 4});
        },
        record("frame"));
    doomed.reset();
    View::animate(
        0.3,
        [&] {
            view->setFrame({1, 2, 3, 4});
        },
        record("other"));
    advance(0.3);
    EXPECT_EQ(done, (std::vector<std::string>{"frame yes", "other yes"}));
}

TEST_F(AnimationTest, ChangesOutsideABlockDoNotCountAsAnimated) {
    view->setAlpha(0.3);
    EXPECT_FALSE(animation::inAnimationBlock());
    EXPECT_EQ(animation::pendingCount(), 0u);
    View::animate(
        0.3, [&] { EXPECT_TRUE(animation::inAnimationBlock()); }, nullptr);
    EXPECT_FALSE(animation::inAnimationBlock());
}

}  // namespace
