#include "SocialSDK/core/protocol/RAZududeHttpClient.h"

#include "SocialSDK/core/protocol/RZSProtocol.h"
#include "platform/Operation.h"

RAZududeHttpClient::RAZududeHttpClient(Key key, std::optional<platform::Url> baseURL)
    : RAZududeHTTPSessionManager(key, std::move(baseURL), std::nullopt) {}

std::shared_ptr<RAZududeHttpClient> RAZududeHttpClient::sharedInstance() {
    static auto* instance = [] {
        auto client = std::make_shared<RAZududeHttpClient>(
            Key{}, platform::Url::parse(RZSProtocol::sharedInstance().baseURL()));
        client->start();
        client->operationQueue()->setMaxConcurrentOperationCount(2);
        return new std::shared_ptr<RAZududeHttpClient>(std::move(client));
    }();
    return *instance;
}
