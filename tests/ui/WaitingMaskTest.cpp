// The waiting mask of the platform registry: one long toast that asks the user to wait.
#include "SocialSDK/core/handler/RAZududeSnsHandler.h"
#include "SocialSDK/core/platform/RAZududeSnsPlatformManager.h"
#include "SocialSDK/ui/toast/RAZududeToast.h"
#include "platform/ui/Label.h"
#include "tests/platform_ui/UiTest.h"

using namespace platform;

namespace {

class WaitingMaskTest : public ui_test::UiTest {
  protected:
    static std::vector<std::shared_ptr<View>> masksIn(const View& window) {
        std::vector<std::shared_ptr<View>> found;
        for (const auto& view : window.subviews()) {
            if (view->tag() == RAZududeToast::kViewTag) {
                found.push_back(view);
            }
        }
        return found;
    }
    static std::string textOf(const View& toast) {
        for (const auto& view : toast.subviews()) {
            auto label = std::dynamic_pointer_cast<Label>(view);
            if (label && !label->text().empty()) {
                return label->text();
            }
        }
        return {};
    }
};

TEST_F(WaitingMaskTest, ShowsOneWaitingToastUntilRemoved) {
    auto window = keyWindow();
    auto& registry = RAZududeSnsPlatformManager::sharedInstance();
    registry.addMaskView();
    registry.addMaskView();  // a second request replaces the mask instead of stacking one
    auto masks = masksIn(*window);
    ASSERT_EQ(masks.size(), 1u);
    EXPECT_EQ(textOf(*masks.front()), "请稍等......");

    advance(29);  // it outlasts any request the user waits for
    EXPECT_GT(masks.front()->alpha(), 0.5);

    registry.removeMaskView();
    EXPECT_TRUE(masksIn(*window).empty());
    registry.removeMaskView();  // nothing left to remove: no harm
}

TEST_F(WaitingMaskTest, TheHandlerBaseTakesTheSameMaskAway) {
    auto window = keyWindow();
    RAZududeSnsPlatformManager::sharedInstance().addMaskView();
    ASSERT_EQ(masksIn(*window).size(), 1u);
    RAZududeSnsHandler::removeMaskView();
    EXPECT_TRUE(masksIn(*window).empty());
}

}  // namespace
