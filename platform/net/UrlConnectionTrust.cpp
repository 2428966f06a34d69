// The judgement of a server's certificates during a connection's TLS handshake.

#include <openssl/ssl.h>
#include <openssl/x509.h>

#include "platform/net/ServerTrust.h"
#include "platform/net/detail/UrlConnectionLoad.h"

namespace platform {

using detail::urlError;

CURLcode UrlConnection::Load::onSslContext(CURL*, void* context, void* user) {
    SSL_CTX_set_cert_verify_callback(static_cast<SSL_CTX*>(context), &Load::onVerify, user);
    return CURLE_OK;
}

int UrlConnection::Load::onVerify(X509_STORE_CTX* context, void* user) {
    auto* self = static_cast<Load*>(user);
    std::vector<Bytes> chain;
    if (STACK_OF(X509)* sent = X509_STORE_CTX_get0_untrusted(context)) {
        for (int i = 0; i < sk_X509_num(sent); ++i) {
            X509* certificate = sk_X509_value(sent, i);
            const int length = i2d_X509(certificate, nullptr);
            if (length <= 0) {
                continue;
            }
            Bytes der(static_cast<std::size_t>(length));
            unsigned char* out = der.data();
            i2d_X509(certificate, &out);
            chain.push_back(std::move(der));
        }
    }
    const bool trusted = self->judgeServerTrust(std::move(chain));
    if (!trusted) {
        X509_STORE_CTX_set_error(context, X509_V_ERR_APPLICATION_VERIFICATION);
    }
    return trusted ? 1 : 0;
}

bool UrlConnection::Load::judgeServerTrust(std::vector<Bytes> chain) {
    const Url url = currentRequest().url();
    auto untrusted = [&](const std::string& reason) {
        bodyError_ = urlError(kUrlErrorServerCertificateUntrusted,
                              "The certificate for this server is invalid (" + reason +
                                  "): it may not be \"" + url.host() + "\".",
                              url);
        return false;
    };
    if (cancelled_ || ended_) {
        return false;
    }
    auto trust = ServerTrust::create(std::move(chain), TrustPolicy::ssl(url.host()));
    if (!trust) {
        return untrusted("the server sent no readable certificate");
    }
    ProtectionSpace space(url.host(), url.port().value_or(443), "https", std::nullopt,
                          kAuthenticationMethodServerTrust, trust);
    AuthenticationChallenge challenge(space, 0, nullptr, *this);
    answer_ = Answer::kNone;
    tell([&](UrlConnectionDelegate& d, UrlConnection& c) {
        d.willSendRequestForAuthenticationChallenge(c, challenge);
    });
    if (cancelled_) {
        return false;
    }
    if (answer_ == Answer::kCancel) {
        return untrusted("the server's certificate was not accepted");
    }
    if (answer_ == Answer::kUseCredential && credential_.serverTrust()) {
        return true;
    }
    const auto result = trust->evaluate();
    if (result == TrustResult::kProceed || result == TrustResult::kUnspecified) {
        return true;
    }
    return untrusted(trust->failureReason().empty() ? "the chain could not be evaluated"
                                                    : trust->failureReason());
}

}  // namespace platform
