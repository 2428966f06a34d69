// The one result type of the share service: every reply of the share service, every platform
// login or share and every closed screen reaches the app's delegate and the completion blocks
// as one of these.
//
// Made on the main thread for each result and handed over; nothing in it is guarded, so whoever
// receives one reads it on the main thread.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/Error.h"
#include "platform/Value.h"

// Result codes made by the share service itself; any other code is the share service's own,
// passed through from its reply.
enum RAZududeResponseCode : int {
    kRAZududeResponseSuccess = 200,
    kRAZududeResponseLoginFailed = 510,  // also: un-authorising refused
    kRAZududeResponseNoUidAfterOauth = 5020,
    kRAZududeResponseNetworkError = 5050,
    kRAZududeResponseAccountFailed = 5051,  // uploading or fetching the platform account
    kRAZududeResponseCancel = 5052,
    kRAZududeResponseNoPlatformAccount = 5053,   // the platform's account is not set up here
    kRAZududeResponseClientNotInstalled = 5054,  // the platform's application is missing
};

// Kinds of result set directly; the others are the request kind of the job that answered.
enum RAZududeResponseType : int {
    kRAZududeResponseTypeShare = 5,
    kRAZududeResponseTypeUnOauth = 8,
    kRAZududeResponseTypeOauth = 9,
};

// The screens of the share service; the same numbers say which screen was showing.
enum RAZududeViewControllerType : int {
    kRAZududeViewControllerNone = -1,  // no screen is to follow
    kRAZududeViewControllerShareList = 2,
    kRAZududeViewControllerShareEdit = 3,
    kRAZududeViewControllerAccount = 4,
    kRAZududeViewControllerOauth = 7,
    kRAZududeViewControllerFriend = 9,
    kRAZududeViewControllerIconActionSheet = 10,
};

class RAZududeResponseEntity {
  public:
    RAZududeResponseEntity() = default;

    int responseCode() const { return responseCode_; }
    void setResponseCode(int code) { responseCode_ = code; }
    int responseType() const { return responseType_; }
    void setResponseType(int type) { responseType_ = type; }
    int viewControllerType() const { return viewControllerType_; }
    void setViewControllerType(int type) { viewControllerType_ = type; }
    const std::optional<std::string>& message() const { return message_; }
    void setMessage(std::optional<std::string> message) { message_ = std::move(message); }
    const std::optional<platform::Map>& data() const { return data_; }
    void setData(std::optional<platform::Map> data) { data_ = std::move(data); }
    // What a platform's own SDK gave back; null when nothing.
    const platform::Value& thirdPlatformUserProfile() const { return userProfile_; }
    void setThirdPlatformUserProfile(platform::Value profile) { userProfile_ = std::move(profile); }
    const platform::Value& thirdPlatformResponse() const { return platformResponse_; }
    void setThirdPlatformResponse(platform::Value response) {
        platformResponse_ = std::move(response);
    }
    const std::optional<platform::Error>& error() const { return error_; }
    void setError(std::optional<platform::Error> error) { error_ = std::move(error); }

    // The fields that are set, as a dictionary's text: codes only when not zero, objects only
    // when present. A fresh entity reads as an empty dictionary.
    std::string description() const;

  private:
    int responseCode_ = 0;
    int responseType_ = 0;
    int viewControllerType_ = 0;
    std::optional<std::string> message_;
    std::optional<platform::Map> data_;
    platform::Value userProfile_;
    platform::Value platformResponse_;
    std::optional<platform::Error> error_;
};

using RAZududeResponsePtr = std::shared_ptr<RAZududeResponseEntity>;
// Every completion of the share service takes one response; an empty one is not called.
using RAZududeResponseCompletion = std::function<void(const RAZududeResponsePtr& response)>;

// A new response with the code and message.
RAZududeResponsePtr makeRAZududeResponse(int code, std::optional<std::string> message = {});
