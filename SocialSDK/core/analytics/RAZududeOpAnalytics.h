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

// The operation codes, as the share service counts them. As a source operation, a code names
// what led to the operation recorded ("3+4": a platform's login started from a platform chosen).
namespace RZUsageCode {
inline constexpr char kPresentSnsController[] = "1";
inline constexpr char kPresentSnsIconSheet[] = "2";
inline constexpr char kPlatformChosen[] = "3";  // a platform's click handler
inline constexpr char kPlatformLogin[] = "4";
inline constexpr char kShareListScreen[] = "5";
inline constexpr char kIconSheetScreen[] = "6";
inline constexpr char kOauthScreen[] = "7";
inline constexpr char kShareEditScreen[] = "9";
inline constexpr char kShare[] = "14";
inline constexpr char kRequestSocialData[] = "15";
inline constexpr char kLikeOrCancel[] = "16";
inline constexpr char kComment[] = "17";
inline constexpr char kCommentWithShare[] = "18";
inline constexpr char kCommentList[] = "19";
inline constexpr char kSocialAccount[] = "20";
inline constexpr char kUnOauth[] = "21";
inline constexpr char kBindToSns[] = "22";
inline constexpr char kUnBindToSns[] = "23";
inline constexpr char kSnsInformation[] = "24";
inline constexpr char kSnsFriends[] = "25";
inline constexpr char kAddFollow[] = "26";
inline constexpr char kPostSnsAccount[] = "28";
inline constexpr char kSetSnsPlatformNames[] = "29";
inline constexpr char kSetSupportedInterfaceOrientations[] = "30";
inline constexpr char kSetFollowWeiboUids[] = "31";
inline constexpr char kAddSocialSnsPlatform[] = "32";
inline constexpr char kSetDefaultColor[] = "33";
inline constexpr char kSetBoundsSizeForiPad[] = "34";
inline constexpr char kSetShouldShareSynchronous[] = "35";
inline constexpr char kSetShouldCommentWithShare[] = "36";
inline constexpr char kSetShouldCommentWithLocation[] = "37";
inline constexpr char kSetSupportTencentSSO[] = "42";
inline constexpr char kSetWXAppId[] = "45";
}  // namespace RZUsageCode

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
