// The share screens' common look by theme, the translucency that styling takes from a bar and
// gives back, and the one shared HUD.
#include "SocialSDK/ui/helper/RAZududeUIHelper.h"

#include "SocialSDK/core/config/RAZududeConfig.h"
#include "platform/ui/Button.h"
#include "platform/ui/Label.h"
#include "platform/ui/NavigationBar.h"
#include "tests/platform_ui/UiTest.h"

using namespace platform;

namespace {

// The resource image of that name, pixel for pixel.
bool isResource(const ImagePtr& image, const char* name) {
    auto resource = Image::named(std::string("RAZududeSDKResourcesNew.bundle/") + name);
    return image && resource && image->encodePng() == resource->encodePng();
}

class UIHelperTest : public ui_test::UiTest {
  protected:
    void TearDown() override {
        RAZududeUIHelper::hideHUD();
        UiTest::TearDown();
    }
    static void useTheme(int theme) {
        RAZududeConfigInternal::shareInstance().setSocialTheme(theme);
    }
    static std::shared_ptr<NavigationBar> bar(bool translucent) {
        auto made = std::make_shared<NavigationBar>(Rect{0, 20, 320, 44});
        made->setTranslucent(translucent);
        return made;
    }

  private:
    // The theme, its blocks and the HUD switch go back as they were.
    RAZududeConfig::ScopedStateForTesting config_;
    RAZududeConfigInternal::ScopedStateForTesting configInternal_;
};

// ---- themes ----------------------------------------------------------------------------

TEST_F(UIHelperTest, BarsByTheme) {
    useTheme(1);
    auto white = bar(true);
    RAZududeUIHelper::customNavBar(*white);
    EXPECT_FALSE(white->isTranslucent());
    ASSERT_TRUE(white->backgroundImage());
    EXPECT_EQ(white->backgroundImage(),
              Image::named("RAZududeSDKResourcesNew.bundle/Buttons/RZS_nav_bar_bg_white"));
    ASSERT_TRUE(white->titleTextAttributes());
    EXPECT_EQ(white->titleTextAttributes()->textColor,
              Color(0.27450980392156865, 0.30980392156862746, 0.3803921568627451, 1));
    EXPECT_EQ(white->titleTextAttributes()->font, Font::system(18));
    EXPECT_EQ(white->titleTextAttributes()->textShadowOffset, (Size{0, 0}));

    useTheme(0);
    auto dark = bar(false);
    RAZududeUIHelper::customNavBar(*dark);
    ASSERT_TRUE(dark->backgroundImage());
    EXPECT_TRUE(isResource(dark->backgroundImage(), "Buttons/RZS_nav_bar_bg"));
    EXPECT_FALSE(dark->titleTextAttributes());
}

TEST_F(UIHelperTest, ButtonsByTheme) {
    useTheme(1);
    Button back, post, refresh, close;
    RAZududeUIHelper::customNavBackButton(back, "返回");
    RAZududeUIHelper::customNavPostButton(post);
    RAZududeUIHelper::customNavRefreshButton(refresh);
    RAZududeUIHelper::customNavButton(close, "关闭");
    for (Button* b : {&back, &post, &refresh, &close}) {
        EXPECT_EQ(b->frame(), (Rect{0, 0, 50, 30}));
        EXPECT_TRUE(b->image(kControlStateNormal));
        EXPECT_FALSE(b->title(kControlStateNormal));  // the image alone
    }
    EXPECT_TRUE(isResource(back.image(kControlStateNormal), "Buttons/RZS_nav_button_back"));
    EXPECT_TRUE(isResource(post.image(kControlStateNormal), "Buttons/RZS_nav_button_send"));
    EXPECT_TRUE(isResource(refresh.image(kControlStateNormal), "Buttons/RZS_nav_button_refresh"));
    EXPECT_TRUE(isResource(close.image(kControlStateNormal), "Buttons/RZS_nav_button_close"));

    useTheme(0);
    Button otherBack, otherPost;
    RAZududeUIHelper::customNavBackButton(otherBack, "返回");
    RAZududeUIHelper::customNavPostButton(otherPost);
    EXPECT_FALSE(otherBack.image(kControlStateNormal));
    for (unsigned state : {kControlStateNormal, kControlStateHighlighted}) {
        auto background = otherBack.backgroundImage(state);
        ASSERT_TRUE(background);
        EXPECT_EQ(background->capInsets().left, 16);
        EXPECT_EQ(background->capInsets().top, 10);
        EXPECT_EQ(otherBack.title(state), "返回");
    }
    EXPECT_EQ(otherBack.titleEdgeInsets(), (EdgeInsets{0, 6, 0, 0}));
    EXPECT_EQ(otherBack.titleLabel().font(), Font::boldSystem(13));
    EXPECT_TRUE(isResource(otherBack.backgroundImage(kControlStateNormal),
                           "OtherTheme/RZS_nav_back_button_normal"));
    EXPECT_TRUE(isResource(otherBack.backgroundImage(kControlStateHighlighted),
                           "OtherTheme/RZS_nav_back_button_tap"));
    // The other theme's send button is a bare frame for the theme's own block to dress.
    EXPECT_EQ(otherPost.frame(), (Rect{0, 0, 50, 30}));
    EXPECT_FALSE(otherPost.image(kControlStateNormal));
}

TEST_F(UIHelperTest, NavigationItemTitleBecomesALabelSizedToIt) {
    ScopedTextMeasurer metrics;
    NavigationItem item("分享到");
    RAZududeUIHelper::customNavigationItem(item);
    auto label = std::dynamic_pointer_cast<Label>(item.titleView());
    ASSERT_TRUE(label);
    EXPECT_EQ(label->frame(), (Rect{0, 0, 54, 22}));
    EXPECT_EQ(label->text(), "分享到");
}

// ---- translucency ----------------------------------------------------------------------

TEST_F(UIHelperTest, TranslucencyComesBackToTheBarsOwnFirstValue) {
    auto navBar = bar(true);
    RAZududeUIHelper::customNavBar(*navBar);
    // Styled again (a second share screen on the same bar): the bar is opaque by now, but
    // what it had before styling is what counts.
    RAZududeUIHelper::customNavBar(*navBar);
    EXPECT_TRUE(RAZududeUIHelper::shareInstance().isSetTranslucent(*navBar));
    EXPECT_TRUE(RAZududeUIHelper::shareInstance().isTranslucent());

    // Another, opaque bar styled meanwhile does not change what the first one gets back.
    auto opaque = bar(false);
    RAZududeUIHelper::customNavBar(*opaque);
    EXPECT_FALSE(RAZududeUIHelper::shareInstance().isTranslucent());

    RAZududeUIHelper::setNavigationBarTranslucent(*navBar);
    EXPECT_TRUE(navBar->isTranslucent());
    EXPECT_FALSE(navBar->backgroundImage());
    EXPECT_FALSE(RAZududeUIHelper::shareInstance().isSetTranslucent(*navBar));

    RAZududeUIHelper::setNavigationBarTranslucent(*opaque);
    EXPECT_FALSE(opaque->isTranslucent());
    EXPECT_TRUE(opaque->backgroundImage());  // an opaque bar keeps the share background
}

TEST_F(UIHelperTest, ABarThatWentAwayLeavesNoRecordForItsSuccessor) {
    auto first = bar(true);
    RAZududeUIHelper::customNavBar(*first);
    first.reset();
    // A new bar, possibly at the same address, starts afresh.
    auto second = bar(false);
    EXPECT_FALSE(RAZududeUIHelper::shareInstance().isSetTranslucent(*second));
    RAZududeUIHelper::customNavBar(*second);
    RAZududeUIHelper::setNavigationBarTranslucent(*second);
    EXPECT_FALSE(second->isTranslucent());
}

// ---- the shared HUD --------------------------------------------------------------------

TEST_F(UIHelperTest, OneHudOnTheFirstWindowInFrontWithNoCount) {
    auto first = keyWindow();
    auto second = Window::make();
    RAZududeUIHelper::showHUD();
    auto hud = RAZududeUIHelper::shareInstance().hud();
    ASSERT_TRUE(hud);
    EXPECT_EQ(hud->superview(), first.get());
    EXPECT_EQ(hud->alpha(), 1);

    // Something covers it; the next showHUD brings the same HUD to the front.
    first->addSubview(std::make_shared<View>(Rect{0, 0, 100, 100}));
    RAZududeUIHelper::showHUD();
    EXPECT_EQ(RAZududeUIHelper::shareInstance().hud(), hud);
    EXPECT_EQ(first->subviews().back(), hud);

    // Two shows, one hide: gone.
    RAZududeUIHelper::hideHUD();
    advance(0.3);
    EXPECT_EQ(hud->alpha(), 0);
}

TEST_F(UIHelperTest, HiddenLoadingHudHidesAHudThatIsUp) {
    auto window = keyWindow();
    RAZududeUIHelper::showHUD();
    auto hud = RAZududeUIHelper::shareInstance().hud();
    ASSERT_TRUE(hud);
    advance(0.5);

    RAZududeConfig::hiddenLoadingHUD(true);
    RAZududeUIHelper::showHUD();
    advance(0.3);
    EXPECT_EQ(hud->alpha(), 0);
    RAZududeUIHelper::showHUD();
    EXPECT_EQ(hud->alpha(), 0);
}

TEST_F(UIHelperTest, WithoutAWindowNoHudIsMadeOrShown) {
    ASSERT_TRUE(Application::shared().windows().empty());
    auto before = RAZududeUIHelper::shareInstance().hud();  // none in a process of its own
    EXPECT_NO_THROW(RAZududeUIHelper::hideHUD());
    EXPECT_NO_THROW(RAZududeUIHelper::showHUD());
    EXPECT_EQ(RAZududeUIHelper::shareInstance().hud(), before);
    if (before) {
        EXPECT_EQ(before->superview(), nullptr);
    }
}

}  // namespace
