// Turns a request kind (0-20) and its parameters into one request job: the path below the
// share service's base URL (with its plain query for GET kinds), the plain body of POST kinds,
// the transport and the completion. The only place that knows the share service's paths and
// body keys; the job enciphers what it builds.
//
// Kinds: 0 add comment, 1 like, 2 comment list, 3 bar, 4 share, 5 share to several platforms,
// 6 bind, 7 unbind, 8 un-authorise, 9 login page (never sent), 10 accounts, 11 platform user
// information, 12 friends, 13 follow, 14 custom account, 15 token, 16 app information,
// 17 token validity, 18 usage counts, 19 app information post, 20 tracking link.
//
// Main thread only; keeps no state.
#pragma once

#include <memory>
#include <string>

#include "SocialSDK/core/protocol/RAZududeJob.h"
#include "platform/NoDestructor.h"
#include "platform/Value.h"

class RAZududeJobFactory {
  public:
    static RAZududeJobFactory& sharedInstance();

    // Nothing while the AppKey is empty (with a warning on the console).
    RAZududeJobPtr createSocialJob(int kind, const RZSJobParameters& params);
    // Only the kind and the parameters.
    RAZududeJobPtr createVirtualSocialJob(int kind, const RZSJobParameters& params);

    // The current record's entity key, or "-1" without one.
    static std::string getEntityKey();

    // Bodies, each on a fresh copy of the base parameters. "pic" is returned apart.
    struct Body {
        platform::Map values;
        RAZududeShareImage pic;
    };
    static Body getPostCommentBaseDictionary();
    static Body getPostLikeBaseDictionary(const platform::Value& like);
    static Body getPostShareBaseDictionary(const std::string& platformName);
    static Body getPostShareMultiBaseDictionary(const RZSJobParameters& params);
    static Body getBindingBaseDictionary(const std::string& platformName);
    static platform::Map getCustomAccountDictionary(const RAZududeCustomAccount& account);
    static platform::Map getTokenDictionary(const RAZududeAccountEntity& account);

  private:
    friend class platform::NoDestructor<RAZududeJobFactory>;
    RAZududeJobFactory() = default;
};
