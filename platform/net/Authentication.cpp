#include "platform/net/Authentication.h"

namespace platform {

Credential::Credential(std::string user, std::string password, CredentialPersistence persistence)
    : user_(std::move(user)), password_(std::move(password)), persistence_(persistence) {}

Credential::Credential(std::shared_ptr<ServerTrust> trust)
    : persistence_(CredentialPersistence::kForSession), trust_(std::move(trust)) {}

ProtectionSpace::ProtectionSpace(std::string host, int port, std::string protocol,
                                 std::optional<std::string> realm, std::string authenticationMethod,
                                 std::shared_ptr<ServerTrust> serverTrust)
    : host_(std::move(host)),
      port_(port),
      protocol_(std::move(protocol)),
      realm_(std::move(realm)),
      method_(std::move(authenticationMethod)),
      trust_(std::move(serverTrust)) {}

AuthenticationChallenge::AuthenticationChallenge(ProtectionSpace space, int previousFailureCount,
                                                 std::shared_ptr<const UrlResponse> failureResponse,
                                                 AuthenticationChallengeSender& sender)
    : space_(std::move(space)),
      failures_(previousFailureCount),
      response_(std::move(failureResponse)),
      sender_(sender) {}

}  // namespace platform
