// Errors as the share service passes them around: a domain, a code and user information.
#pragma once

#include <memory>
#include <string>

#include "platform/Value.h"

namespace platform {

// Key and domain strings of the host platform, kept as its callers and logs know them.
inline constexpr const char* kLocalizedDescriptionKey = "NSLocalizedDescription";
inline constexpr const char* kLocalizedFailureReasonErrorKey = "NSLocalizedFailureReason";
inline constexpr const char* kUnderlyingErrorKey = "NSUnderlyingError";
inline constexpr const char* kUrlErrorFailingUrlErrorKey = "NSErrorFailingURLKey";
inline constexpr const char* kUrlErrorFailingUrlStringErrorKey = "NSErrorFailingURLStringKey";
inline constexpr const char* kUrlErrorDomain = "NSURLErrorDomain";
inline constexpr const char* kCocoaErrorDomain = "NSCocoaErrorDomain";
inline constexpr const char* kPosixErrorDomain = "NSPOSIXErrorDomain";

// Codes of the URL error domain that the network layer reports.
enum UrlErrorCode : long {
    kUrlErrorUnknown = -1,
    kUrlErrorCancelled = -999,
    kUrlErrorBadUrl = -1000,
    kUrlErrorTimedOut = -1001,
    kUrlErrorUnsupportedUrl = -1002,
    kUrlErrorCannotFindHost = -1003,
    kUrlErrorCannotConnectToHost = -1004,
    kUrlErrorNetworkConnectionLost = -1005,
    kUrlErrorHttpTooManyRedirects = -1007,
    kUrlErrorNotConnectedToInternet = -1009,
    kUrlErrorBadServerResponse = -1011,
    kUrlErrorUserCancelledAuthentication = -1012,
    kUrlErrorCannotDecodeContentData = -1016,
    kUrlErrorCannotParseResponse = -1017,
    kUrlErrorSecureConnectionFailed = -1200,
    kUrlErrorServerCertificateUntrusted = -1202,
};

class Error {
  public:
    Error() = default;
    Error(std::string domain, long code, Map userInfo = {})
        : domain_(std::move(domain)), code_(code), userInfo_(std::move(userInfo)) {}

    const std::string& domain() const { return domain_; }
    long code() const { return code_; }
    const Map& userInfo() const { return userInfo_; }
    Map& userInfo() { return userInfo_; }

    // The underlying error travels beside the user information, since a Value holds no
    // errors; it is what the platform keeps under its underlying-error key.
    const std::shared_ptr<const Error>& underlyingError() const { return underlying_; }
    void setUnderlyingError(Error error) {
        underlying_ = std::make_shared<const Error>(std::move(error));
    }

    // The localized description when one is given, else the platform's generic sentence.
    std::string localizedDescription() const;
    std::string localizedFailureReason() const;
    std::string description() const;

    bool operator==(const Error& other) const {
        return domain_ == other.domain_ && code_ == other.code_ && userInfo_ == other.userInfo_;
    }

  private:
    std::string domain_;
    long code_ = 0;
    Map userInfo_;
    std::shared_ptr<const Error> underlying_;
};

}  // namespace platform
