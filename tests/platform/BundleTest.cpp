#include "platform/Bundle.h"

#include <gtest/gtest.h>

#include <fstream>

#include "platform/PropertyList.h"
#include "tests/support/TempDir.h"

using platform::Bundle;
using platform::Value;
using testing_support::runPython;
using testing_support::TempDir;
namespace fs = std::filesystem;

namespace {

void write(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

// A resource folder laid out as the share service's host app has it. The strings tables are
// written by Python's codecs, in the encodings the platform's tools produce.
class BundleTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const fs::path root = dir_.path();
        write(root / "Info.plist", R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict>
  <key>CFBundleDevelopmentRegion</key><string>en</string>
  <key>CFBundleExecutable</key><string>share_demo</string>
  <key>CFBundleURLTypes</key><array><dict>
    <key>CFBundleURLName</key><string>sina</string>
    <key>CFBundleURLSchemes</key><array><string>wb123</string></array>
  </dict></array>
</dict></plist>
)");
        runPython(R"py(
import sys, os
root = sys.stdin.read()
def put(rel, text, encoding):
    path = os.path.join(root, rel)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    open(path, 'wb').write(text.encode(encoding))
put('zh-Hans.lproj/RAZududeLocalizable.strings', '''/* 分享 */
"shareList_title" = "分享至";
// escapes and quotes
"quoted" = "他说\\"好\\"\\n";
"emoji" = "\\U0001\\UD83D\\UDE00";
"onlyKey";
''', 'utf-16')  # Python writes the byte-order mark for 'utf-16'
put('en.lproj/RAZududeLocalizable.strings', '"shareList_title" = "Share to";\n', 'utf-8')
put('RAZududeNetworking.strings', '\ufeff"Request failed" = "Request failed!";\n', 'utf-8')
put('de.lproj/RAZududeLocalizable.strings', '"shareList_title" = "Teilen"', 'utf-8')  # no ';'
put('zh-Hant.lproj/RAZududeLocalizable.strings', '\ufeff"shareList_title" = "分享至 (繁)";', 'utf-16-be')
)py",
                  root.string());
        // The host app's configuration and resources.
        write(root / "SocialSDK-config.plist",
              R"(<?xml version="1.0"?><plist version="1.0"><dict><key>baseURL</key>)"
              R"(<string>http://127.0.0.1:8080/</string></dict></plist>)");
        write(root / "RAZududeSDKResourcesNew.bundle" / "Buttons" / "RZS_nav_button_send.png",
              "png");
        write(root / "en.lproj" / "Only.txt", "localized");
        write(root / "a.cer", "a");
        write(root / "b.cer", "b");
        write(root / "c.txt", "c");
        write(dir_.path().parent_path() / "outside.txt", "");
        Bundle::setPreferredLanguages({"zh-Hans"});
    }
    void TearDown() override { Bundle::setPreferredLanguages({}); }

    Bundle bundle() const { return Bundle(dir_.path()); }

    TempDir dir_;
};

}  // namespace

TEST_F(BundleTest, LocalizedStringsFollowThePreferredLanguage) {
    Bundle b = bundle();
    EXPECT_EQ(b.localizedString("shareList_title", "默认", "RAZududeLocalizable"), "分享至");
    EXPECT_EQ(b.localizedString("quoted", "", "RAZududeLocalizable"), "他说\"好\"\n");
    EXPECT_EQ(b.localizedString("emoji", "", "RAZududeLocalizable"), "\x01😀");
    EXPECT_EQ(b.localizedString("onlyKey", "x", "RAZududeLocalizable"), "onlyKey");

    Bundle::setPreferredLanguages({"fr", "en-US"});
    EXPECT_EQ(b.localizedString("shareList_title", "默认", "RAZududeLocalizable"), "Share to");
    Bundle::setPreferredLanguages({"zh-TW"});
    EXPECT_EQ(b.localizedString("shareList_title", "默认", "RAZududeLocalizable"), "分享至 (繁)");
    Bundle::setPreferredLanguages({"zh_CN"});
    EXPECT_EQ(b.localizedString("shareList_title", "默认", "RAZududeLocalizable"), "分享至");
    // No preferred language the bundle has: the development region of the Info list.
    Bundle::setPreferredLanguages({"ja"});
    EXPECT_EQ(b.localizedString("shareList_title", "默认", "RAZududeLocalizable"), "Share to");
}

TEST_F(BundleTest, MissingTablesAndKeysGiveTheDefault) {
    Bundle b = bundle();
    EXPECT_EQ(b.localizedString("shareEdit_post_finish", "发送成功", "RAZududeLocalizable"),
              "发送成功");
    EXPECT_EQ(b.localizedString("anything", "默认", "NoSuchTable"), "默认");
    // An empty default shows the key, as the network layer's messages rely on.
    EXPECT_EQ(b.localizedString("Network unreachable", "", "RAZududeNetworking"),
              "Network unreachable");
    // A table at the top, read as UTF-8 with a byte-order mark.
    EXPECT_EQ(b.localizedString("Request failed", "", "RAZududeNetworking"), "Request failed!");
    // A broken table is logged and behaves as a missing one.
    Bundle::setPreferredLanguages({"de"});
    EXPECT_EQ(b.localizedString("shareList_title", "默认", "RAZududeLocalizable"), "默认");
    EXPECT_EQ(b.localizedString("x", "y", "../outside"), "y");
}

TEST_F(BundleTest, InfoDictionaryAndConfigurationListsAreRead) {
    Bundle b = bundle();
    EXPECT_EQ(b.objectForInfoDictionaryKey("CFBundleExecutable"), Value("share_demo"));
    EXPECT_EQ(b.infoDictionary()["CFBundleURLTypes"][0]["CFBundleURLSchemes"][0], Value("wb123"));
    EXPECT_TRUE(b.objectForInfoDictionaryKey("missing").isNull());

    auto config = b.pathForResource("SocialSDK-config", "plist");
    ASSERT_TRUE(config);
    auto value = platform::PropertyList::readFile(*config);
    ASSERT_TRUE(value);
    EXPECT_EQ((*value)["baseURL"], Value("http://127.0.0.1:8080/"));

    TempDir empty;
    EXPECT_FALSE(Bundle(empty.path()).pathForResource("SocialSDK-config", "plist"));
    EXPECT_TRUE(Bundle(empty.path()).infoDictionary().empty());
    write(empty.path() / "Info.plist", "<?xml version=\"1.0\"?><plist><dict><key>");
    EXPECT_TRUE(Bundle(empty.path()).infoDictionary().empty());
}

TEST_F(BundleTest, ResourcesAreFoundInsideTheBundleOnly) {
    Bundle b = bundle();
    const fs::path root = dir_.path();
    auto inner = b.pathForResource("RAZududeSDKResourcesNew", "bundle");
    ASSERT_TRUE(inner);
    EXPECT_EQ(*inner, root / "RAZududeSDKResourcesNew.bundle");
    auto resources = Bundle::bundleWithPath(*inner);
    ASSERT_TRUE(resources);
    EXPECT_EQ(resources->pathForResource("RZS_nav_button_send", "png", "Buttons"),
              root / "RAZududeSDKResourcesNew.bundle" / "Buttons" / "RZS_nav_button_send.png");
    EXPECT_EQ(
        b.pathForResource("RAZududeSDKResourcesNew.bundle/Buttons/RZS_nav_button_send", "png"),
        root / "RAZududeSDKResourcesNew.bundle" / "Buttons" / "RZS_nav_button_send.png");
    EXPECT_EQ(b.pathForResource("a", ".cer"), root / "a.cer");
    EXPECT_EQ(b.pathForResource("c.txt", ""), root / "c.txt");
    EXPECT_EQ(b.pathForResource("Only", "txt"), root / "en.lproj" / "Only.txt");
    EXPECT_FALSE(b.pathForResource("missing", "png"));
    EXPECT_FALSE(b.pathForResource("", "png"));

    EXPECT_FALSE(b.pathForResource("../outside", "txt"));
    EXPECT_FALSE(b.pathForResource("outside", "txt", ".."));
    EXPECT_FALSE(b.pathForResource((root.parent_path() / "outside").string(), "txt"));
    EXPECT_FALSE(Bundle::bundleWithPath(root / "missing.bundle"));

    EXPECT_EQ(b.pathsForResourcesOfType("cer", ""),
              (std::vector<fs::path>{root / "a.cer", root / "b.cer"}));
    EXPECT_TRUE(b.pathsForResourcesOfType("cer", "Buttons").empty());
    EXPECT_TRUE(b.pathsForResourcesOfType("txt", "..").empty());
}

TEST_F(BundleTest, TheMainBundleIsSettable) {
    EXPECT_FALSE(Bundle::mainBundle().bundlePath().empty());
    Bundle::setMainBundlePath(dir_.path());
    EXPECT_EQ(Bundle::mainBundle().bundlePath(), dir_.path());
    EXPECT_EQ(
        Bundle::mainBundle().localizedString("shareList_title", "默认", "RAZududeLocalizable"),
        "分享至");
}
