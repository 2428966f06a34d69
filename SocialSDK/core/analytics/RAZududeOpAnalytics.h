// Usage counts: what the user and the app do with the share service (sheets shown, platforms
// tapped, logins, configuration calls), counted per operation key and sent to the share service
// in batches. The counts live in the user defaults, so they survive restarts, and they stay
// there until the share service has taken a batch.
//
// An operation key is the operation code, behind its source operation as "source+code" when
// there is one, with "-<platform type>" appended when a platform is named (0 for a name that is
// not registered): a tap on "wxsession" recorded as "3" counts under "3-14".
//
// Main thread only: the share service records operations where they happen, on the main thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/NoDestructor.h"
#include "platform/Value.h"

class RAZududeOpAnalytics {
  public:
    static RAZududeOpAnalytics& shareInstance();

    RAZududeOpAnalytics(const RAZududeOpAnalytics&) = delete;
    RAZududeOpAnalytics& operator=(const RAZududeOpAnalytics&) = delete;

    // Operation key to its count, as decimal text.
    const platform::Map& opDictionary() const { return opDictionary_; }
    // Calls recorded and not yet taken by the share service.
    int count() const { return count_; }

    static void postSocialAnalytics(std::string_view code);
    static void postSocialAnalyticsFromSourceOpType(std::string_view code,
                                                    std::optional<std::string> source,
                                                    std::optional<std::string> snsName = {});
    // Records one call of the key (already holding its source), for the platform when named.
    static void postSocialAnalyticsWithSnsName(std::string key, std::optional<std::string> snsName);

    static constexpr const char* kDictionaryDefaultsKey = "RAZududeOpDictioanry";
    static constexpr const char* kCountDefaultsKey = "RAZududeOpCount";
    // A batch is sent once this many calls are counted.
    static constexpr int kBatchSize = 6;

  private:
    friend class platform::NoDestructor<RAZududeOpAnalytics>;
    RAZududeOpAnalytics();
    void record(std::string key, const std::optional<std::string>& snsName);
    void sendBatch();
    void batchAnswered(const platform::Map& sent, int sentCount, bool accepted);
    void persist();

    platform::Map opDictionary_;
    int count_ = 0;
    // One batch at a time; after a refused batch the next try waits for a full batch more.
    bool sending_ = false;
    int sendAt_ = kBatchSize;
};
