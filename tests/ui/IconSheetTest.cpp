// The icon sheet: which platforms it shows, its grid for several counts and orientations, its
// taps, and what a person sees.
#include <gtest/gtest.h>

#include <algorithm>

#include "SocialSDK/core/config/RAZududeConfig.h"
#include "SocialSDK/core/platform/RAZududeSnsPlatformInternal.h"
#include "SocialSDK/core/platform/RAZududeSnsPlatformManager.h"
#include "SocialSDK/ui/sheet/RAZududeIconActionSheet.h"
#include "platform/ui/Application.h"
#include "platform/ui/Button.h"
#include "platform/ui/Label.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Screen.h"
#include "tests/core/SocialTest.h"
#include "tests/ui/Pictures.h"

namespace {

using platform::Color;
using platform::Rect;
using Names = std::vector<std::string>;

class IconSheetTest : public social_test::SocialTest {
  protected:
    // A sheet of the names shown over the app's screen and laid out.
    std::shared_ptr<RAZududeIconActionSheet> show(const Names& names) {
        if (!window_) {
            showAppScreen();
        }
        auto sheet = std::make_shared<RAZududeIconActionSheet>(
            names, [this](const std::string& name) { tapped.push_back(name); });
        sheet->setDismissCompletion([this] { ++dismissed; });
        sheet->showInView(*screen_->view());
        advance(RAZududeIconActionSheet::kAnimationDuration);
        window_->update();
        return sheet;
    }

    static std::shared_ptr<platform::View> icon(RAZududeIconActionSheet& sheet,
                                                const std::string& name) {
        int type = RAZududeSnsPlatformManager::getSnsPlatformType(name);
        return sheet.viewWithTag(RAZududeIconActionSheet::kIconTagBase + type);
    }
    static std::shared_ptr<platform::Label> label(RAZududeIconActionSheet& sheet,
                                                  const std::string& name) {
        int type = RAZududeSnsPlatformManager::getSnsPlatformType(name);
        return sheet.viewWithTagAs<platform::Label>(RAZududeIconActionSheet::kLabelTagBase + type);
    }

    // Twenty registered platforms: those of the handlers and the registry, and seven of the app.
    static Names twentyNames() {
        Names names{"wxsession", "wxtimeline", "wxfavorite", "sina",  "tencent",
                    "qzone",     "renren",     "douban",     "email", "sms",
                    "facebook",  "twitter",    "qq"};
        std::vector<std::shared_ptr<RAZududeSnsPlatform>> extra;
        for (int i = 0; names.size() < 20; ++i) {
            std::string name = "sheet-app-" + std::to_string(i);
            if (!RAZududeSnsPlatformManager::sharedInstance().allSnsPlatformDictionary().count(
                    name)) {
                auto platform = RAZududeSnsPlatform::initWithPlatformName(name);
                platform->setDisplayName(name);
                extra.push_back(platform);
            }
            names.push_back(name);
        }
        RAZududeConfig::addSocialSnsPlatform(extra);
        return names;
    }

    Names tapped;
    int dismissed = 0;
};

TEST_F(IconSheetTest, FivePlatformsOnAPortraitPhoneMakeTwoRowsOfFour) {
    auto sheet = show({"tencent", "qzone", "renren", "douban", "email"});
    auto* overlay = sheet->superview();
    ASSERT_TRUE(overlay);
    EXPECT_EQ(overlay->tag(), 100);
    EXPECT_EQ(overlay->backgroundColor(), Color::black().withAlpha(0.5));
    double bottom = overlay->bounds().height();
    EXPECT_EQ(bottom, platform::Screen::main().bounds().height());
    EXPECT_EQ(sheet->columns(), 4);
    EXPECT_EQ(sheet->frame(), Rect(0, bottom - 160, 320, 160));

    const Names names = sheet->snsNames();
    for (std::size_t i = 0; i < names.size(); ++i) {
        double c = double(i % 4), r = double(i / 4);
        auto button = icon(*sheet, names[i]);
        ASSERT_TRUE(button) << names[i];
        EXPECT_EQ(button->frame(), Rect(c * 80, r * 80 - 8, 80, 80)) << names[i];
        auto name = label(*sheet, names[i]);
        ASSERT_TRUE(name) << names[i];
        EXPECT_FALSE(name->isHidden());
        EXPECT_EQ(name->frame(), Rect(c * 80 + 5, r * 80 + 47, 70, 20)) << names[i];
        EXPECT_EQ(name->font(), platform::Font::system(11));
        EXPECT_EQ(name->textColor(), Color::darkGray());
    }
    EXPECT_EQ(label(*sheet, "renren")->text(), "人人网");
    auto* scroll = dynamic_cast<platform::ScrollView*>(sheet->subviews().at(0).get());
    ASSERT_TRUE(scroll);
    EXPECT_EQ(scroll->contentSize(), (platform::Size{320, 160}));
    // The grid lines were drawn into the background.
    auto background = std::dynamic_pointer_cast<platform::ImageView>(scroll->subviews().at(0));
    ASSERT_TRUE(background && background->image());
    EXPECT_EQ(background->image()->size(), (platform::Size{320, 160}));
}

TEST_F(IconSheetTest, NoPlatformsMakeAPanelOfNoHeightAtTheBottomEdge) {
    auto sheet = show({});
    EXPECT_EQ(sheet->frame().height(), 0);
    EXPECT_EQ(sheet->frame().minY(), sheet->superview()->bounds().height());
    auto* scroll = sheet->subviews().at(0).get();
    auto background = std::dynamic_pointer_cast<platform::ImageView>(scroll->subviews().at(0));
    EXPECT_FALSE(background->image());
}

TEST_F(IconSheetTest, ManyPlatformsAddColumnsDownToSeventyPoints) {
    auto sheet = show(twentyNames());
    ASSERT_EQ(sheet->snsNames().size(), 20u);
    EXPECT_EQ(sheet->columns(), 5);
    EXPECT_EQ(sheet->frame().height(), 320);  // four rows of 80
    // Columns of 70 points: the grid is wider than the screen.
    EXPECT_EQ(icon(*sheet, sheet->snsNames()[4])->frame(), Rect(4 * 70 - 5, -8, 80, 80));
    EXPECT_EQ(icon(*sheet, sheet->snsNames()[19])->frame().minY(), 3 * 80 - 8);
}

TEST_F(IconSheetTest, AGridWiderThanTheScreenScrollsToItsLastColumn) {
    showAppScreen();
    screen_->view()->setBackgroundColor(Color::white());
    auto sheet = show(twentyNames());
    ASSERT_EQ(sheet->columns(), 5);
    auto* scroll = dynamic_cast<platform::ScrollView*>(sheet->subviews().at(0).get());
    ASSERT_TRUE(scroll);
    // Five columns of 70 points: the content, and the background with its grid, are 350 wide.
    EXPECT_EQ(scroll->contentSize(), (platform::Size{350, 320}));
    auto background = std::dynamic_pointer_cast<platform::ImageView>(scroll->subviews().at(0));
    ASSERT_TRUE(background && background->image());
    EXPECT_EQ(background->image()->size(), (platform::Size{350, 320}));

    // The last column is cut by the screen's edge until the panel is dragged to its end.
    auto last = std::dynamic_pointer_cast<platform::Button>(icon(*sheet, sheet->snsNames()[4]));
    ASSERT_TRUE(last);
    auto& image = last->imageView();
    EXPECT_GT(image.convertRectTo(image.bounds(), nullptr).maxX(), 320);
    scroll->dragBy({-200, 0});
    EXPECT_EQ(scroll->contentOffset(), (platform::Point{30, 0}));
    Rect shown = image.convertRectTo(image.bounds(), nullptr);
    EXPECT_LE(shown.maxX(), 320);
    auto picture = ui_test::windowPicture(*window_, "icon_sheet_scrolled.png");
    ASSERT_TRUE(picture);
    // The tencent blue reaches the right part of its icon, and the panel stays white behind.
    int blue = ui_test::countIn(*picture, Rect(shown.maxX() - 20, shown.minY() + 20, 8, 30),
                                [](Color c) { return c.b > 0.6 && c.r < 0.2; });
    EXPECT_GT(blue, 150);
    EXPECT_TRUE(ui_test::near(ui_test::pixelAt(*picture, 318, sheet->frame().minY() + 75),
                              Color::white(), 0.05));
    window_->tap(shown.center());
    EXPECT_EQ(tapped, (Names{sheet->snsNames()[4]}));
}

TEST_F(IconSheetTest, LandscapeAddsColumnsUntilTheGridFitsTheShortScreen) {
    platform::Application::shared().setStatusBarOrientation(platform::kOrientationLandscapeRight);
    auto names = twentyNames();
    names.resize(12);
    auto sheet = show(names);
    EXPECT_EQ(sheet->columns(), 6);
    EXPECT_EQ(sheet->frame(), Rect(0, 320 - 160, 568, 160));
    double column = 568.0 / 6;
    EXPECT_EQ(icon(*sheet, names[7])->frame(), Rect(column + (column - 80) / 2, 72, 80, 80));
    platform::Application::shared().setStatusBarOrientation(platform::kOrientationPortrait);
}

TEST_F(IconSheetTest, HiddenPlatformsWhoseApplicationIsMissingAreLeftOut) {
    RAZududeConfig::hiddenNotInstallPlatforms(Names{"wxsession", "qq"});
    auto sheet = std::make_shared<RAZududeIconActionSheet>(
        Names{"wxsession", "nowhere", "tencent", "qq"}, nullptr);
    EXPECT_EQ(sheet->snsNames(), (Names{"tencent"}));
    EXPECT_FALSE(icon(*sheet, "wxsession"));
    EXPECT_EQ(RAZududeSnsPlatformManager::getSocialPlatformWithName("tencent")
                  ->platformInternal()
                  ->shareStatus(),
              "1");

    platform::Application::shared().registerUrlScheme("wechat");
    auto installed =
        std::make_shared<RAZududeIconActionSheet>(Names{"wxsession", "tencent"}, nullptr);
    EXPECT_EQ(installed->snsNames(), (Names{"wxsession", "tencent"}));
}

TEST_F(IconSheetTest, NamesGivenAfterCreationGetTheirIconsInsteadOfEmptyCells) {
    // The app's own list names "qq", which its handler registers but the configured list
    // (the creation items) lacks.
    auto sheet = show({"tencent", "qzone"});
    sheet->setSnsNames({"qq", "tencent", "qzone"});
    sheet->setNeedsDisplay();
    window_->update();
    auto qq = icon(*sheet, "qq");
    ASSERT_TRUE(qq);
    EXPECT_EQ(qq->frame(), Rect(0, -8, 80, 80));
    ASSERT_TRUE(label(*sheet, "qq"));
    EXPECT_FALSE(label(*sheet, "qq")->isHidden());
    // Names that had icons keep their one icon.
    int tencentIcons = 0;
    for (const auto& view : sheet->subviews().at(0)->subviews()) {
        tencentIcons += view->tag() == RAZududeIconActionSheet::kIconTagBase + 11;
    }
    EXPECT_EQ(tencentIcons, 1);

    window_->tapView(*qq);
    EXPECT_EQ(tapped, (Names{"qq"}));
}

TEST_F(IconSheetTest, ATapHandsOverTheNameAndTheSheetSlidesOutOnce) {
    auto sheet = show({"wxsession", "tencent", "sms"});
    auto overlay = sheet->superview()->shared_from_this();
    window_->tapView(*icon(*sheet, "wxsession"));
    EXPECT_EQ(tapped, (Names{"wxsession"}));
    EXPECT_FALSE(sheet->isHidden());
    EXPECT_TRUE(sheet->isDismissing());
    // While it slides out, further taps choose nothing and close nothing.
    window_->tapView(*icon(*sheet, "sms"));
    window_->tap({160, 100});
    sheet->dismiss();
    EXPECT_EQ(tapped, (Names{"wxsession"}));
    advance(RAZududeIconActionSheet::kAnimationDuration);
    EXPECT_EQ(dismissed, 1);
    EXPECT_FALSE(overlay->superview());
    EXPECT_FALSE(screen_->view()->viewWithTag(100));

    // The registry's own platforms hide the sheet at once.
    auto second = show({"wxsession", "tencent"});
    window_->tapView(*icon(*second, "tencent"));
    EXPECT_EQ(tapped.back(), "tencent");
    EXPECT_TRUE(second->isHidden());
}

TEST_F(IconSheetTest, ATapOnTheDimmedOverlayDismissesWithoutAChoice) {
    auto sheet = show({"sina", "douban"});
    window_->tap({160, 100});
    advance(RAZududeIconActionSheet::kAnimationDuration);
    EXPECT_TRUE(tapped.empty());
    EXPECT_EQ(dismissed, 1);
    EXPECT_FALSE(sheet->superview());
}

TEST_F(IconSheetTest, TheDarkThemeShowsWhiteHairlinesAndNamesOnDarkGrey) {
    RAZududeConfig::setTheme(0);
    auto sheet = show({"sina", "tencent", "qzone", "renren", "douban"});
    auto* scroll = sheet->subviews().at(0).get();
    auto* background = scroll->subviews().at(0).get();
    EXPECT_EQ(background->backgroundColor(), Color::darkGray());
    auto picture = ui_test::windowPicture(*window_, "icon_sheet_dark.png");
    RAZududeConfig::setTheme(1);
    RAZududeConfig::setShareGridViewTheme({});
    ASSERT_TRUE(picture);

    double top = sheet->frame().minY();
    auto lighter = [](Color c) { return c.r > 0.55 && c.g > 0.55 && c.b > 0.55; };
    EXPECT_TRUE(ui_test::near(ui_test::pixelAt(*picture, 5, top + 40), Color::darkGray(), 0.02));
    // The grid's lines of no width are drawn one pixel of their image wide: the vertical line
    // at the end of each column, the horizontal one under the row.
    EXPECT_GT(ui_test::countIn(*picture, Rect(78, top + 20, 4, 40), lighter), 40);
    EXPECT_GT(ui_test::countIn(*picture, Rect(20, top + 79, 40, 4), lighter), 40);
    // The names are light on the dark panel.
    EXPECT_GT(ui_test::countIn(*picture, label(*sheet, "sina")->frame().offsetBy(0, top), lighter),
              40);
}

TEST_F(IconSheetTest, IconsLeftOutOfTheAppsListShowNowhere) {
    // Made from the configured list, then given the app's shorter one: the icons it left out
    // keep their frames of no size and must not show over the dimmed page.
    showAppScreen();
    screen_->view()->setBackgroundColor(Color::white());
    auto sheet = std::make_shared<RAZududeIconActionSheet>(
        Names{"wxsession", "wxtimeline", "qq", "qzone", "renren", "douban", "facebook", "twitter",
              "sina", "sms", "email"},
        nullptr);
    sheet->setSnsNames({"sina", "sms", "email"});
    sheet->showInView(*screen_->view());
    advance(RAZududeIconActionSheet::kAnimationDuration);
    auto picture = ui_test::windowPicture(*window_, "icon_sheet_short.png");
    ASSERT_TRUE(picture);
    EXPECT_EQ(icon(*sheet, "twitter")->frame(), Rect());
    double top = sheet->frame().minY();
    EXPECT_EQ(top, 568 - 80);
    auto coloured = [](Color c) {
        return std::max({c.r, c.g, c.b}) - std::min({c.r, c.g, c.b}) > 0.1;
    };
    EXPECT_EQ(ui_test::countIn(*picture, Rect(0, 0, 320, top), coloured), 0);
    // In the panel only the three named icons show colour, in the first three cells.
    EXPECT_GT(ui_test::countIn(*picture, Rect(0, top, 240, 80), coloured), 3 * 1000);
    EXPECT_EQ(ui_test::countIn(*picture, Rect(240, top, 80, 80), coloured), 0);
    EXPECT_EQ(ui_test::countIn(*picture, Rect(0, top, 10, 10), coloured), 0);
}

TEST_F(IconSheetTest, APersonSeesTheIconsOverTheDimmedScreen) {
    showAppScreen();
    screen_->view()->setBackgroundColor(Color::white());
    show({"wxsession", "tencent", "sina", "sms", "email"});
    auto picture = ui_test::windowPicture(*window_, "icon_sheet.png");
    ASSERT_TRUE(picture);
    // Above the panel the white screen is dimmed to grey; inside it the panel is white and the
    // first icon shows the WeChat green.
    EXPECT_TRUE(ui_test::near(ui_test::pixelAt(*picture, 160, 200), Color::gray(0.5), 0.05));
    double top = 568 - 160;
    EXPECT_TRUE(ui_test::near(ui_test::pixelAt(*picture, 300, top + 150), Color::white(), 0.05));
    int green = ui_test::countIn(*picture, Rect(10, top, 60, 50),
                                 [](Color c) { return c.g > 0.55 && c.r < 0.3 && c.b < 0.3; });
    EXPECT_GT(green, 400);
}

}  // namespace
