// How a URL session loads: the settings a session copies when it is made and applies to every
// request of its tasks.
//
// A plain value: copy it, change the copy, make a session with it; the session keeps its own
// copy and later changes to yours do not reach it. Any thread may build one. It archives
// itself (keyed archive class "UrlSessionConfiguration") so that an object that owns a
// session can store and restore how it was made; call registerArchiveClass() once before
// reading such an archive.
//
// There are two kinds, default and ephemeral. Background sessions, which the platform runs in
// another process and which outlive the app, do not exist here: no configuration has an
// identifier, and nothing makes one. Nothing in this layer writes caches or credentials to
// disk, and cookies live in the process's one jar in memory (CookieJar::shared()) for either
// kind, so "ephemeral" tells the two apart for those who ask and changes nothing else.
//
// What a session does with each setting, per request of its tasks:
// - timeoutIntervalForRequest: the request's idle time-out when the request keeps the
//   default one (UrlRequest::kDefaultTimeoutInterval); a request that set its own keeps it.
// - httpAdditionalHeaders: added to each request that does not set that field itself.
// - maximumBodyBytesInMemory: the most bytes, once decoded, that a task gathers in memory for
//   a completion handler; a body past it fails the task with -1103 and what was gathered is
//   let go. Downloads to files and bodies handed to the delegate as they come have none.
// - httpShouldSetCookies: false sends no cookies from the jar and stores none from the
//   response ("Set-Cookie" is ignored); true leaves it to the request's own switch.
// - requestCachePolicy and networkServiceType: given to each request that keeps the default
//   one; allowsCellularAccess: false forbids it to every request; httpShouldUsePipelining:
//   true allows it to every request. They are kept for those who read them back: nothing here
//   caches responses, and every link is the same link.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "platform/KeyedArchive.h"
#include "platform/net/UrlRequest.h"

namespace platform {

class UrlSessionConfiguration final : public Archivable {
  public:
    static constexpr const char* kArchiveClassName = "UrlSessionConfiguration";

    static UrlSessionConfiguration defaultSessionConfiguration();
    static UrlSessionConfiguration ephemeralSessionConfiguration();

    // Reads an archived configuration (see registerArchiveClass).
    explicit UrlSessionConfiguration(KeyedUnarchiver& coder);
    // Adds the class to ArchiveRegistry::shared(); more than once does no harm.
    static void registerArchiveClass();

    // Always nullopt: only background sessions have identifiers (see above).
    const std::optional<std::string>& identifier() const { return identifier_; }
    bool isEphemeral() const { return ephemeral_; }

    UrlRequestCachePolicy requestCachePolicy() const { return cachePolicy_; }
    void setRequestCachePolicy(UrlRequestCachePolicy policy) { cachePolicy_ = policy; }

    // Seconds without progress before a task fails with -1001; 60 by default. A value of 0
    // or less means no time-out.
    double timeoutIntervalForRequest() const { return requestTimeout_; }
    void setTimeoutIntervalForRequest(double seconds) { requestTimeout_ = seconds; }

    const HeaderFields& httpAdditionalHeaders() const { return additionalHeaders_; }
    void setHttpAdditionalHeaders(HeaderFields headers) { additionalHeaders_ = std::move(headers); }

    // 64 MiB by default; 0 means no ceiling.
    static constexpr std::size_t kDefaultMaximumBodyBytesInMemory = std::size_t{64} << 20;
    std::size_t maximumBodyBytesInMemory() const { return maximumBodyBytesInMemory_; }
    void setMaximumBodyBytesInMemory(std::size_t bytes) { maximumBodyBytesInMemory_ = bytes; }

    bool httpShouldSetCookies() const { return setCookies_; }
    void setHttpShouldSetCookies(bool set) { setCookies_ = set; }

    bool httpShouldUsePipelining() const { return pipelining_; }
    void setHttpShouldUsePipelining(bool pipelining) { pipelining_ = pipelining; }

    bool allowsCellularAccess() const { return cellular_; }
    void setAllowsCellularAccess(bool allows) { cellular_ = allows; }

    NetworkServiceType networkServiceType() const { return serviceType_; }
    void setNetworkServiceType(NetworkServiceType type) { serviceType_ = type; }

    // The request as a task of a session with this configuration sends it (see above).
    UrlRequest applyTo(UrlRequest request) const;

    bool operator==(const UrlSessionConfiguration& other) const;

    // Archivable
    std::string archiveClassName() const override { return kArchiveClassName; }
    void encode(KeyedArchiver& coder) const override;

  private:
    UrlSessionConfiguration() = default;

    std::optional<std::string> identifier_;
    bool ephemeral_ = false;
    UrlRequestCachePolicy cachePolicy_ = UrlRequestCachePolicy::kUseProtocolCachePolicy;
    double requestTimeout_ = UrlRequest::kDefaultTimeoutInterval;
    HeaderFields additionalHeaders_;
    std::size_t maximumBodyBytesInMemory_ = kDefaultMaximumBodyBytesInMemory;
    bool setCookies_ = true;
    bool pipelining_ = false;
    bool cellular_ = true;
    NetworkServiceType serviceType_ = NetworkServiceType::kDefault;
};

}  // namespace platform
