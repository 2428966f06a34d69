// A protocol test against the share-service emulator: the emulator emptied, the SDK's user
// state cleared, the AppKey set (its app-information request answered) and the log emptied
// before each test; the main loop on its real clock.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "SocialSDK/core/data/RAZududeData.h"
#include "SocialSDK/core/manager/RZSDataManager.h"
#include "SocialSDK/core/manager/RZSUserManager.h"
#include "platform/MainLoop.h"
#include "tests/core/protocol_loopback/ShareServicePeer.h"

namespace share_service_test {

class ProtocolLoopbackTest : public ::testing::Test {
  protected:
    void SetUp() override {
        peer_.reset();
        platform::MainLoop::main().setManualClock(false);
        auto& users = RZSUserManager::shareInstance();
        users.setUid(std::nullopt);
        users.setSnsAccountDictionary({});
        users.setCommentShareAccountDic({});
        RAZududeData::setAppKey(kAppKey);
        ASSERT_TRUE(pumpUntil([] { return idle(RZSDataManager::currentDataManager()); }));
        peer_.control("POST", "/__emu/log/clear");
    }

    // A manager of its own for the identifier, made current.
    static std::shared_ptr<RZSDataManager> managerFor(const std::string& identifier) {
        auto& set = RZSDataManagerSet::shareInstance();
        set.setDataManagerWithHash(identifier);
        return set.dataManager();
    }
    static bool idle(const std::shared_ptr<RZSDataManager>& manager) {
        return manager->actionArray().empty();
    }

    const ShareServicePeer& peer_ = ShareServicePeer::shared();
};

// The text of a response's failure, for assertion messages.
inline std::string said(const RAZududeResponsePtr& response) {
    return response ? response->description() : std::string("no response");
}

}  // namespace share_service_test
