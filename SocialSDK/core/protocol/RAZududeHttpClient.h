// The share service's one HTTP client: a session manager of the network layer whose base URL
// is the protocol's base URL. Request jobs take its base URL, request serializer and time-out;
// the platform handlers borrow its request serializer for their own requests.
//
// Made on first use and kept for the process; the time-out is read and written on the main
// thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>

#include "SocialSDK/framework/network/RAZududeHTTPSessionManager.h"

class RAZududeHttpClient : public RAZududeHTTPSessionManager {
  public:
    static std::shared_ptr<RAZududeHttpClient> sharedInstance();

    RAZududeHttpClient(Key key, std::optional<platform::Url> baseURL);

    // Seconds that a job gives each request; every new job sets 60.
    std::chrono::seconds timeoutInterval() const { return timeoutInterval_; }
    void setTimeoutInterval(std::chrono::seconds timeout) { timeoutInterval_ = timeout; }

  private:
    std::chrono::seconds timeoutInterval_{60};
};
