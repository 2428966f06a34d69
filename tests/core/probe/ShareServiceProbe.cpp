// One launch of an app that uses the share service, for the restart test: the app root comes
// from RZ_APP_ROOT, the main bundle (with its "SocialSDK-config.plist") from the first argument.
//   share_service_probe <bundle folder> <AppKey> store   asks for the bar of "restart-item",
//                                                        stores a Sina account and prints both
//   share_service_probe <bundle folder> <AppKey> show    prints what it finds at launch
// Output: "EK <entity key>", "UID <uid>", "TOKEN <sina token>" ("-" for nothing), then "OK".
#include <cstdio>
#include <string>

#include "SocialSDK/core/account/RAZududeAccountManager.h"
#include "SocialSDK/core/cache/RAZududeCache.h"
#include "SocialSDK/core/data/RAZududeData.h"
#include "SocialSDK/core/manager/RZSDataManager.h"
#include "SocialSDK/core/manager/RZSUserManager.h"
#include "platform/Bundle.h"
#include "platform/MainLoop.h"

namespace {

constexpr const char* kItem = "restart-item";

void print(const char* label, const std::optional<std::string>& value) {
    std::printf("%s %s\n", label, value ? value->c_str() : "-");
}

void printState() {
    auto manager = RZSDataManagerSet::shareInstance().dataManagerForIdentifier(kItem);
    if (!manager) {
        RZSDataManagerSet::shareInstance().setDataManagerWithHash(kItem);
        manager = RZSDataManagerSet::shareInstance().dataManager();
    }
    print("EK", manager->barEntity()->entityKey());
    print("UID", RZSUserManager::shareInstance().uid());
    const auto& accounts = RZSUserManager::shareInstance().snsAccountDictionary();
    auto sina = accounts.find("sina");
    print("TOKEN", sina == accounts.end() ? std::nullopt : sina->second->accessToken());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s <bundle folder> <AppKey> store|show\n", argv[0]);
        return 2;
    }
    const std::string phase = argv[3];
    platform::Bundle::setMainBundlePath(argv[1]);
    auto& loop = platform::MainLoop::main();
    if (phase == "show") {
        // What the launch finds, before any reply could change it.
        printState();
        RAZududeData::setAppKey(std::string(argv[2]));
        std::printf("OK\n");
        return 0;
    }
    RAZududeData::setAppKey(std::string(argv[2]));
    RZSDataManagerSet::shareInstance().setDataManagerWithHash(kItem);
    auto manager = RZSDataManagerSet::shareInstance().dataManager();
    int code = 0;
    manager->requestBarInfo([&code](const RAZududeResponsePtr& r) { code = r->responseCode(); });
    if (!loop.runUntil([&code] { return code != 0; }, 20) || code != 200) {
        std::fprintf(stderr, "the bar request ended with %d\n", code);
        return 1;
    }
    auto account = std::make_shared<RAZududeAccountEntity>("sina");
    account->setUsid("restart-usid");
    account->setAccessToken("restart-token");
    RAZududeAccountManager::setSnsAccount(account);
    // An app's termination: what is stored reaches the disk.
    RAZududeCache::currentCache().saveCacheDictionary();
    RAZududeCache::currentCache().waitForDiskOperations();
    printState();
    std::printf("OK\n");
    return 0;
}
