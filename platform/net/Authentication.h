// Authentication challenges: a server asking who we are (HTTP Basic) or a TLS handshake
// asking whether we trust the server. The connection offers each to its delegate on the
// network thread; the delegate answers through the challenge's sender before the delegate
// call returns (an unanswered challenge gets the default handling).
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/Error.h"
#include "platform/net/ServerTrust.h"
#include "platform/net/UrlResponse.h"

namespace platform {

inline constexpr const char* kAuthenticationMethodServerTrust =
    "NSURLAuthenticationMethodServerTrust";
inline constexpr const char* kAuthenticationMethodHttpBasic = "NSURLAuthenticationMethodHTTPBasic";
inline constexpr const char* kAuthenticationMethodDefault = "NSURLAuthenticationMethodDefault";

enum class CredentialPersistence : unsigned { kNone = 0, kForSession = 1, kPermanent = 2 };

class Credential {
  public:
    Credential(std::string user, std::string password, CredentialPersistence persistence);
    explicit Credential(std::shared_ptr<ServerTrust> trust);

    const std::string& user() const { return user_; }
    const std::string& password() const { return password_; }
    CredentialPersistence persistence() const { return persistence_; }
    // Set for a credential made from a server trust.
    const std::shared_ptr<ServerTrust>& serverTrust() const { return trust_; }

  private:
    std::string user_;
    std::string password_;
    CredentialPersistence persistence_ = CredentialPersistence::kNone;
    std::shared_ptr<ServerTrust> trust_;
};

class ProtectionSpace {
  public:
    ProtectionSpace(std::string host, int port, std::string protocol,
                    std::optional<std::string> realm, std::string authenticationMethod,
                    std::shared_ptr<ServerTrust> serverTrust = nullptr);

    const std::string& host() const { return host_; }
    int port() const { return port_; }
    const std::string& protocol() const { return protocol_; }  // "http" or "https"
    const std::optional<std::string>& realm() const { return realm_; }
    const std::string& authenticationMethod() const { return method_; }
    // Set for the server-trust method.
    const std::shared_ptr<ServerTrust>& serverTrust() const { return trust_; }

  private:
    std::string host_;
    int port_;
    std::string protocol_;
    std::optional<std::string> realm_;
    std::string method_;
    std::shared_ptr<ServerTrust> trust_;
};

class AuthenticationChallenge;

// How a challenge is answered; the connection that offers a challenge is its sender.
class AuthenticationChallengeSender {
  public:
    virtual ~AuthenticationChallengeSender() = default;
    virtual void useCredential(const Credential& credential,
                               const AuthenticationChallenge& challenge) = 0;
    virtual void continueWithoutCredential(const AuthenticationChallenge& challenge) = 0;
    // Fails the load (the server trust: untrusted certificate; Basic: cancelled).
    virtual void cancelAuthenticationChallenge(const AuthenticationChallenge& challenge) = 0;
    virtual void performDefaultHandling(const AuthenticationChallenge& challenge) = 0;
};

class AuthenticationChallenge {
  public:
    AuthenticationChallenge(ProtectionSpace space, int previousFailureCount,
                            std::shared_ptr<const UrlResponse> failureResponse,
                            AuthenticationChallengeSender& sender);

    const ProtectionSpace& protectionSpace() const { return space_; }
    int previousFailureCount() const { return failures_; }
    // The 401 that asked, for HTTP authentication.
    const std::shared_ptr<const UrlResponse>& failureResponse() const { return response_; }
    AuthenticationChallengeSender& sender() const { return sender_; }

  private:
    ProtectionSpace space_;
    int failures_;
    std::shared_ptr<const UrlResponse> response_;
    AuthenticationChallengeSender& sender_;
};

}  // namespace platform
