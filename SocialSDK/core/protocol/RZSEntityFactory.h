// Turns a decoded reply of the share service into the SDK's objects: the response entity of
// the current data manager, and what the reply carries for the device to keep (the bar of the
// shared item and the user id for the bar request, the account list for the account request,
// a friend list for the friends request).
//
// The reply is the envelope {"st": code, "msg": text, "data": payload}. Payloads of the wrong
// shape are logged and change nothing. Main thread only.
#pragma once

#include <string>

#include "SocialSDK/core/data/RAZududeResponseEntity.h"
#include "SocialSDK/core/protocol/RAZududeJob.h"
#include "platform/NoDestructor.h"
#include "platform/Value.h"

class RZSEntityFactory {
  public:
    static RZSEntityFactory& sharedInstance();

    // The request kind of the reply being processed.
    int config() const { return config_; }
    void setConfig(int kind) { config_ = kind; }

    // A new response from the envelope, which becomes the current data manager's.
    RAZududeResponsePtr makeResponse(const platform::Map& envelope);
    // Stores what the payload of the kind carries; other kinds change nothing.
    void saveObjects(const platform::Value& payload, const RZSJobParameters& params);

    void makeSocialBarDataFromDictionary(const platform::Map& payload);
    // The listed accounts replace those on the device; with the accounts the device held when
    // the request was made, one stored since then stays too.
    void makeAccountDicFromDictionry(const platform::Value& payload,
                                     const RAZududeAccountDictionary* whenAsked = nullptr);
    void makeFriendDicFromDictioanry(const platform::Map& payload, const std::string& platformName);

  private:
    friend class platform::NoDestructor<RZSEntityFactory>;
    RZSEntityFactory() = default;
    int config_ = 0;
};
