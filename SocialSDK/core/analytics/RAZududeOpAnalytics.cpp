#include "SocialSDK/core/analytics/RAZududeOpAnalytics.h"

#include <algorithm>
#include <exception>

#include "RZBase_Source/Encode/RAZududeUtils.h"
#include "SocialSDK/core/manager/RZSDataManager.h"
#include "SocialSDK/core/platform/RAZududeSnsPlatformManager.h"
#include "platform/Format.h"
#include "platform/NoDestructor.h"
#include "platform/UserDefaults.h"

RAZududeOpAnalytics::RAZududeOpAnalytics() {
    auto& defaults = platform::UserDefaults::standardUserDefaults();
    if (auto stored = defaults.dictionaryForKey(kDictionaryDefaultsKey)) {
        opDictionary_ = std::move(*stored);
        opDictionary_.erase("count");
        count_ = static_cast<int>(defaults.integerForKey(kCountDefaultsKey));
    }
}

RAZududeOpAnalytics& RAZududeOpAnalytics::shareInstance() {
    static platform::NoDestructor<RAZududeOpAnalytics> instance;
    return *instance;
}

void RAZududeOpAnalytics::postSocialAnalytics(std::string_view code) {
    postSocialAnalyticsWithSnsName(std::string(code), std::nullopt);
}

void RAZududeOpAnalytics::postSocialAnalyticsFromSourceOpType(std::string_view code,
                                                              std::optional<std::string> source,
                                                              std::optional<std::string> snsName) {
    std::string key =
        source ? platform::format("%@+%@", *source, std::string(code)) : std::string(code);
    postSocialAnalyticsWithSnsName(std::move(key), std::move(snsName));
}

void RAZududeOpAnalytics::postSocialAnalyticsWithSnsName(std::string key,
                                                         std::optional<std::string> snsName) {
    try {
        shareInstance().record(std::move(key), snsName);
    } catch (const std::exception&) {
        RAZududeUtils::outLog("postSocialAnalytics exception");
    }
}

void RAZududeOpAnalytics::record(std::string key, const std::optional<std::string>& snsName) {
    ++count_;
    if (snsName) {
        key = platform::format("%@-%d", key,
                               RAZududeSnsPlatformManagerInternal::getSnsPlatformType(*snsName));
    }
    if (auto* entry = opDictionary_.find(key)) {
        *entry = platform::format("%d", entry->intValue() + 1);
    } else {
        opDictionary_.append(std::move(key), "1");
    }
    if (count_ >= sendAt_ && !sending_) {
        sendBatch();
    }
    persist();
}

void RAZududeOpAnalytics::sendBatch() {
    sending_ = true;
    platform::Map batch = opDictionary_;
    int batchCount = count_;
    RZSDataManager::currentDataManager()->postOpAnalyticsWithDictionary(
        batch, [batch, batchCount](const RAZududeResponsePtr& response) {
            bool accepted = response && response->responseCode() == kRAZududeResponseSuccess;
            shareInstance().batchAnswered(batch, batchCount, accepted);
        });
}

// What the share service took leaves the device; what was counted meanwhile stays. A batch
// that was not taken stays whole and goes again with the next one.
void RAZududeOpAnalytics::batchAnswered(const platform::Map& sent, int sentCount, bool accepted) {
    sending_ = false;
    if (!accepted) {
        RAZududeUtils::outLog("op analytics not sent; the counts are kept");
        sendAt_ = count_ + kBatchSize;
        return;
    }
    for (const auto& [key, value] : sent) {
        auto* entry = opDictionary_.find(key);
        if (!entry) {
            continue;
        }
        int left = entry->intValue() - value.intValue();
        if (left > 0) {
            *entry = platform::format("%d", left);
        } else {
            opDictionary_.erase(key);
        }
    }
    count_ = std::max(0, count_ - sentCount);
    sendAt_ = kBatchSize;
    persist();
}

void RAZududeOpAnalytics::persist() {
    auto& defaults = platform::UserDefaults::standardUserDefaults();
    defaults.setObject(platform::Value(opDictionary_), kDictionaryDefaultsKey);
    defaults.setObject(platform::Value(count_), kCountDefaultsKey);
    defaults.synchronize();
}
