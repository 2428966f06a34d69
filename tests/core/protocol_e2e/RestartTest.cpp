// The SDK launched twice in fresh processes on one app root: the second launch finds the
// accounts, the bar entity and the uid that the first one stored.
#include <gtest/gtest.h>

#include "tests/core/protocol_loopback/ShareServicePeer.h"
#include "tests/support/PeerProcess.h"
#include "tests/support/TempDir.h"

namespace {

std::string launch(const std::filesystem::path& root, const std::filesystem::path& bundle,
                   const std::string& phase) {
    auto result =
        testing_support::runCommand({"env", "RZ_APP_ROOT=" + root.string(), SHARE_SERVICE_PROBE,
                                     bundle.string(), share_service_test::kAppKey, phase},
                                    60);
    EXPECT_EQ(result.status, 0) << result.output;
    return result.output;
}

std::string line(const std::string& output, const std::string& label) {
    const std::size_t at = output.find(label + " ");
    if (at == std::string::npos) {
        return {};
    }
    const std::size_t start = at + label.size() + 1;
    return output.substr(start, output.find('\n', start) - start);
}

TEST(RestartTest, ASecondLaunchFindsItsAccountsBarAndUid) {
    auto server = testing_support::PeerProcess::python("share_service.py",
                                                       {"--appkey", share_service_test::kAppKey});
    testing_support::TempDir root;
    testing_support::TempDir bundle;
    share_service_test::writeConfig(bundle.path(), server.baseUrl());

    const std::string first = launch(root.path(), bundle.path(), "store");
    ASSERT_NE(first.find("OK"), std::string::npos) << first;
    const std::string key = line(first, "EK");
    ASSERT_FALSE(key.empty());
    ASSERT_NE(key, "-");
    ASSERT_NE(line(first, "UID"), "-");
    EXPECT_EQ(line(first, "TOKEN"), "restart-token");

    server.stop();  // the second launch reads only what is on disk
    const std::string second = launch(root.path(), bundle.path(), "show");
    EXPECT_EQ(line(second, "EK"), key) << second;
    EXPECT_EQ(line(second, "UID"), line(first, "UID")) << second;
    EXPECT_EQ(line(second, "TOKEN"), "restart-token") << second;
}

}  // namespace
