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

class UIHelperTest : public ui_test::UiTest {
  protected:
    UIHelperTest() {
        auto& internal = RAZududeConfigInternal::shareInstance();
        theme_ = internal.socialTheme();
        grid_ = internal.gridViewConfig();
        bar_ = internal.navigationbarConfig();
        cell_ = internal.tableViewCellConfig();
    }
    void TearDown() override {
        useTheme(theme_);
        auto& internal = RAZududeConfigInternal::shareInstance();
        internal.setGridViewConfig(grid_);
        internal.setNavigationbarConfig(bar_);
        internal.setTableViewCellConfig(cell_);
        RAZududeConfig::hiddenLoadingHUD(false);
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
    int theme_ = 1;
    RAZududeGridViewConfig grid_;
    RAZududeNavigationBarConfig bar_;
    RAZududeTableViewCellConfig cell_;
};

// ---- themes ----------------------------------------------------------------------------

TEST_F(UIHelperTest, DefaultThemeBarIsWhiteWithTheGreyBlueTitle) {
    useTheme(1);
    auto navBar = bar(true);
    RAZududeUIHelper::customNavBar(*navBar);
    EXPECT_FALSE(navBar->isTranslucent());
    EXPECT_EQ(navBar->backgroundImage(),
              Image::named("RAZududeSDKResourcesNew.bundle/Buttons/RZS_nav_bar_bg_white"));
    ASSERT_TRUE(navBar->backgroundImage());
    ASSERT_TRUE(navBar->titleTextAttributes());
    const auto& attributes = *navBar->titleTextAttributes();
    EXPECT_EQ(attributes.textColor,
              Color(0.27450980392156865, 0.30980392156862746, 0.3803921568627451, 1));
    EXPECT_EQ(attributes.font, Font::system(18));
    EXPECT_EQ(attributes.textShadowOffset, (Size{0, 0}));
}

TEST_F(UIHelperTest, OtherThemesGetTheDarkBarAndLeaveTheTitleAlone) {
    useTheme(0);
    auto navBar = bar(false);
    RAZududeUIHelper::customNavBar(*navBar);
    auto image = navBar->backgroundImage();
    ASSERT_TRUE(image);
    EXPECT_EQ(image->size(), (Size{320, 44}));
    EXPECT_NE(image, Image::named("RAZududeSDKResourcesNew.bundle/Buttons/RZS_nav_bar_bg_white"));
    EXPECT_FALSE(navBar->titleTextAttributes());
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
        EXPECT_FALSE(b->title(kControlStateNormal));  // the image says it all
        EXPECT_FALSE(b->backgroundImage(kControlStateNormal));
    }
    EXPECT_NE(post.image(kControlStateNormal), refresh.image(kControlStateNormal));

    useTheme(0);
    Button otherBack, otherPost;
    RAZududeUIHelper::customNavBackButton(otherBack, "返回");
    RAZududeUIHelper::customNavPostButton(otherPost);
    EXPECT_EQ(otherBack.frame(), (Rect{0, 0, 50, 30}));
    EXPECT_FALSE(otherBack.image(kControlStateNormal));
    for (unsigned state : {kControlStateNormal, kControlStateHighlighted}) {
        auto background = otherBack.backgroundImage(state);
        ASSERT_TRUE(background);
        EXPECT_EQ(background->capInsets().left, 16);
        EXPECT_EQ(background->capInsets().top, 10);
        EXPECT_EQ(otherBack.title(state), "返回");
    }
    EXPECT_NE(otherBack.backgroundImage(kControlStateNormal),
              otherBack.backgroundImage(kControlStateHighlighted));
    EXPECT_EQ(otherBack.titleLabel().font(), Font::boldSystem(13));
    EXPECT_EQ(otherBack.titleEdgeInsets(), (EdgeInsets{0, 6, 0, 0}));
    // The other theme's send button is a plain frame, for the theme's own block to dress.
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
    EXPECT_EQ(label->textColor(), RAZududeUIHelper::kTitleColor);
    EXPECT_EQ(label->font(), Font::system(18));
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

    // A bar never styled is left alone.
    auto untouched = bar(false);
    untouched->setBackgroundImage(
        Image::named("RAZududeSDKResourcesNew.bundle/Buttons/RZS_nav_bar_bg"));
    RAZududeUIHelper::setNavigationBarTranslucent(*untouched);
    EXPECT_FALSE(untouched->isTranslucent());
    EXPECT_TRUE(untouched->backgroundImage());
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

TEST_F(UIHelperTest, HideBeforeAnyShowDoesNothing) {
    if (RAZududeUIHelper::shareInstance().hud()) {
        GTEST_SKIP() << "an earlier test in this process made the HUD";
    }
    EXPECT_NO_THROW(RAZududeUIHelper::hideHUD());
    EXPECT_FALSE(RAZududeUIHelper::shareInstance().hud());
}

TEST_F(UIHelperTest, OneHudOnTheFirstWindowInFrontWithNoCount) {
    auto first = keyWindow();
    auto second = Window::make();
    RAZududeUIHelper::showHUD();
    auto hud = RAZududeUIHelper::shareInstance().hud();
    ASSERT_TRUE(hud);
    EXPECT_EQ(hud->superview(), first.get());
    EXPECT_EQ(hud->alpha(), 1);
    EXPECT_TRUE(hud->labelText().empty());

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

TEST_F(UIHelperTest, NoWindowMeansNoHud) {
    ASSERT_TRUE(Application::shared().windows().empty());
    auto before = RAZududeUIHelper::shareInstance().hud();
    EXPECT_NO_THROW(RAZududeUIHelper::showHUD());
    EXPECT_EQ(RAZududeUIHelper::shareInstance().hud(), before);
    if (before) {
        EXPECT_EQ(before->superview(), nullptr);
        EXPECT_EQ(before->alpha(), 0);
    }
}

}  // namespace
