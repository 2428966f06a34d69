// The generated resource bundle: every image name the screens use is found, at the screen's
// scale, and the platform icons can be told apart.
#include <gtest/gtest.h>

#include <set>

#include "platform/Bundle.h"
#include "platform/Log.h"
#include "platform/graphics/GraphicsContext.h"
#include "platform/graphics/Image.h"
#include "tests/support/TempDir.h"

using namespace platform;

namespace {

const std::string kBundle = "RAZududeSDKResourcesNew.bundle/";

// A 3x3 green image where the name asks.
void writeOwnImage(const std::filesystem::path& root, const std::string& name) {
    std::filesystem::create_directories((root / name).parent_path());
    ImageContext own({3, 3});
    own.context().setFillColor(Color::green());
    own.context().fillRect({0, 0, 3, 3});
    ASSERT_TRUE(own.makeImage()->writePng(root / (name + ".png")));
}

const char* kButtons[] = {
    "RZS_actionsheet_panel",
    "RZS_add_friend_off",
    "RZS_add_friend_on",
    "RZS_comment_bar_background",
    "RZS_comment_input.png",
    "RZS_comment_view_cell_white",
    "RZS_follow_off",
    "RZS_follow_on",
    "RZS_nav_bar_bg",
    "RZS_nav_bar_bg_white",
    "RZS_nav_button_back",
    "RZS_nav_button_close",
    "RZS_nav_button_refresh",
    "RZS_nav_button_send",
    "RZS_share_change_account",
    "RZS_share_change_account_tap",
    "RZS_share_change_to_account",
    "RZS_url_image",
    "RZS_url_music",
    "RZS_url_video",
    "RZS_zizoz_share_at",
    "RZS_zizoz_share_atSel",
    "RZS_User-Avatar-Placeholder",
};

const char* kOtherTheme[] = {"RZS_nav_back_button_normal", "RZS_nav_back_button_tap",
                             "RZS_nav_bar_bg_black", "RZS_nav_button_normal"};

const char* kPlatforms[] = {"sina",
                            "qzone",
                            "tencent",
                            "renren",
                            "douban",
                            "wechat_session",
                            "wechat_timeline",
                            "wechat_favorite",
                            "email",
                            "sms",
                            "qq",
                            "facebook",
                            "twitter"};

TEST(ResourceBundle, EveryImageNameOfTheScreensIsThereAtScaleTwo) {
    std::vector<std::string> names;
    for (const char* n : kButtons) {
        names.push_back(kBundle + "Buttons/" + n);
    }
    for (const char* n : kOtherTheme) {
        names.push_back(kBundle + "OtherTheme/" + n);
    }
    for (const char* p : kPlatforms) {
        for (const char* suffix : {"_icon", "_on", "_off"}) {
            names.push_back(kBundle + "SnsPlatform/RZS_" + p + suffix);
        }
    }
    for (const auto& name : names) {
        ImagePtr image = Image::named(name);
        ASSERT_TRUE(image) << name;
        EXPECT_EQ(image->scale(), 2) << name;
        EXPECT_GT(image->size().width, 0) << name;
        EXPECT_EQ(Image::named(name), image) << "cached: " << name;
    }
    EXPECT_FALSE(Image::named(kBundle + "Buttons/RZS_no_such_image"));
    EXPECT_FALSE(Image::named("../outside"));
}

TEST(ResourceBundle, PlatformIconsAreDistinguishable) {
    std::set<std::uint32_t> colours;
    for (const char* p : kPlatforms) {
        ImagePtr icon = Image::named(kBundle + "SnsPlatform/RZS_" + p + "_icon");
        ASSERT_TRUE(icon) << p;
        // The colour near the lower left corner of the tile (which sits at the top of the
        // square), clear of the lettering.
        colours.insert(icon->pixelRgba8(icon->pixelWidth() / 6, icon->pixelHeight() * 2 / 3));
        ImagePtr off = Image::named(kBundle + "SnsPlatform/RZS_" + p + "_off");
        Color grey = off->pixel(off->pixelWidth() / 6, off->pixelHeight() * 5 / 6);
        EXPECT_NEAR(grey.r, grey.b, 0.02) << p << " off is grey";
    }
    EXPECT_EQ(colours.size(), std::size(kPlatforms));
}

TEST(ResourceBundle, TheMainBundleCarriesTheArtworkAndComesFirst) {
    // A program's copy sits beside it, where the main bundle's look-up finds it.
    auto path = Bundle::mainBundle().pathForResource(kBundle + "Buttons/RZS_nav_bar_bg", "png");
    ASSERT_TRUE(path);
    EXPECT_TRUE(Image::fromFile(*path));

    testing_support::TempDir dir;
    writeOwnImage(dir.path(), kBundle + "Buttons/RZS_follow_on");
    std::filesystem::path programFolder = Bundle::mainBundle().bundlePath();
    Bundle::setMainBundlePath(dir.path());
    ImagePtr mine = Image::named(kBundle + "Buttons/RZS_follow_on");
    ImagePtr generated = Image::named(kBundle + "Buttons/RZS_follow_off");
    Bundle::setMainBundlePath(programFolder);
    ASSERT_TRUE(mine);
    EXPECT_EQ(mine->size(), (Size{3, 3}));
    EXPECT_EQ(mine->pixelRgba8(1, 1), 0x00FF00FFu);
    EXPECT_TRUE(generated) << "what the main bundle lacks comes from the program's folder";
    EXPECT_NE(Image::named(kBundle + "Buttons/RZS_follow_on")->size(), (Size{3, 3}));
}

TEST(ResourceBundle, AnAppInstalledIntoAPrefixFindsTheBundleInItsShareFolder) {
    testing_support::TempDir prefix;
    writeOwnImage(prefix.path() / "share" / "sharesdk", kBundle + "Buttons/RZS_follow_on");
    std::filesystem::create_directories(prefix.path() / "bin");
    std::filesystem::path programFolder = Bundle::mainBundle().bundlePath();
    Bundle::setMainBundlePath(prefix.path() / "bin");
    ImagePtr installed = Image::named(kBundle + "Buttons/RZS_follow_on");
    Bundle::setMainBundlePath(programFolder);
    ASSERT_TRUE(installed);
    EXPECT_EQ(installed->size(), (Size{3, 3}));
}

TEST(ResourceBundle, AMissingBundleIsToldOnceNamingWhereItLooked) {
    testing_support::TempDir empty;
    std::vector<std::string> logged;
    ConsoleLogSink previous =
        setConsoleLogSink([&](std::string_view message) { logged.emplace_back(message); });
    Image::setResourceRoot(empty.path());
    EXPECT_FALSE(Image::named(kBundle + "Buttons/RZS_follow_on"));
    EXPECT_FALSE(Image::named(kBundle + "Buttons/RZS_follow_off"));
    EXPECT_FALSE(Image::named("Elsewhere/RZS_follow_off")) << "no bundle asked for: no warning";
    Image::setResourceRoot({});
    EXPECT_TRUE(Image::named(kBundle + "Buttons/RZS_follow_on"));
    setConsoleLogSink(previous);

    ASSERT_EQ(logged.size(), 1u);
    EXPECT_NE(
        logged[0].find("RAZududeSDKResourcesNew.bundle not found in " + empty.path().string()),
        std::string::npos)
        << logged[0];
    EXPECT_NE(logged[0].find("RZ_RESOURCE_ROOT"), std::string::npos) << logged[0];
}

}  // namespace
