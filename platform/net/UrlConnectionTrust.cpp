// The judgement of a server's certificates: once per TLS handshake, then before every request
// on the connection, from the verdicts the connection keeps.

#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <set>

#include "platform/net/ServerTrust.h"
#include "platform/net/detail/UrlConnectionLoad.h"

namespace platform {

using detail::urlError;

// Owned by the connection's TLS context, so that it goes with the connection. Network thread
// only.
struct UrlConnection::Load::TlsVerdicts {
    // The load whose handshake this is, until its chain has been judged.
    std::weak_ptr<Load> handshakeLoad;
    // The load whose handshake accepted the chain and that has not yet sent its request: its
    // own judgement lets it go on whatever name its delegate gives.
    std::uint64_t acceptedInHandshakeOf = 0;
    // The chain the server sent (or, for a resumed session, the one the session was made
    // with, once a load has asked for it).
    std::vector<Bytes> chain;
    // "name host port" of every judgement that accepted the chain.
    std::set<std::string> accepted;
    // A judgement refused the chain: nothing more is sent on this connection.
    bool refused = false;

    static std::string key(const std::string& judgement, const Url& url) {
        return judgement + '\n' + url.host() + '\n' + std::to_string(url.port().value_or(443));
    }
};

namespace {

Error untrusted(const Url& url, const std::string& reason) {
    return urlError(kUrlErrorServerCertificateUntrusted,
                    "The certificate for this server is invalid (" + reason +
                        "): it may not be \"" + url.host() + "\".",
                    url);
}

std::vector<Bytes> derChain(STACK_OF(X509) * certificates) {
    std::vector<Bytes> chain;
    for (int i = 0; certificates && i < sk_X509_num(certificates); ++i) {
        X509* certificate = sk_X509_value(certificates, i);
        const int length = i2d_X509(certificate, nullptr);
        if (length <= 0) {
            continue;
        }
        Bytes der(static_cast<std::size_t>(length));
        unsigned char* out = der.data();
        i2d_X509(certificate, &out);
        chain.push_back(std::move(der));
    }
    return chain;
}

// The verdicts' slot in a TLS context: they are freed with the context, that is, with the
// connection.
int verdictsIndex() {
    static const int index = SSL_CTX_get_ex_new_index(
        0, nullptr, nullptr, nullptr, [](void*, void* verdicts, CRYPTO_EX_DATA*, int, long, void*) {
            delete static_cast<UrlConnection::Load::TlsVerdicts*>(verdicts);
        });
    return index;
}

}  // namespace

void UrlConnection::Load::configureTls(CURL* easy) {
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 0L);  // the judgement checks the name
    // Our judgement replaces OpenSSL's verification, so nothing of the machine's anchors is
    // loaded into each new connection's context: reading them costs more than the handshake.
    curl_easy_setopt(easy, CURLOPT_CAINFO, static_cast<const char*>(nullptr));
    curl_easy_setopt(easy, CURLOPT_CAPATH, static_cast<const char*>(nullptr));
    curl_easy_setopt(easy, CURLOPT_SSL_CTX_FUNCTION, &Load::onSslContext);
    curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, &Load::onPrerequest);
    // libcurl copies what it sends over TLS through its upload buffer, made for each load and
    // freed at its end, and never sends more than a record's 16 kB at once: a larger buffer
    // only made the allocator give memory back to the system and fault it in again per load.
    curl_easy_setopt(easy, CURLOPT_UPLOAD_BUFFERSIZE, 16384L);
}

void UrlConnection::Load::setTlsCallbackData(CURL* easy) {
    curl_easy_setopt(easy, CURLOPT_SSL_CTX_DATA, this);
    curl_easy_setopt(easy, CURLOPT_PREREQDATA, this);
}

CURLcode UrlConnection::Load::onSslContext(CURL*, void* context, void* user) {
    auto* tls = static_cast<SSL_CTX*>(context);
    auto* self = static_cast<Load*>(user);
    const int index = verdictsIndex();
    auto verdicts = std::make_unique<TlsVerdicts>();
    verdicts->handshakeLoad = self->weak_from_this();
    if (index < 0 || SSL_CTX_set_ex_data(tls, index, verdicts.get()) != 1) {
        return CURLE_OUT_OF_MEMORY;
    }
    // A renegotiation would bring a chain that no load is there to judge.
    SSL_CTX_set_options(tls, SSL_OP_NO_RENEGOTIATION);
    // A kept-alive connection keeps its record buffers between loads. Released after each
    // exchange, they were some 34 kB made and freed per request, which the allocator gave
    // back to the system and faulted in again every time.
    SSL_CTX_clear_mode(tls, SSL_MODE_RELEASE_BUFFERS);
    SSL_CTX_set_cert_verify_callback(tls, &Load::onVerify, verdicts.release());
    return CURLE_OK;
}

int UrlConnection::Load::onVerify(X509_STORE_CTX* context, void* user) {
    auto* verdicts = static_cast<TlsVerdicts*>(user);
    const auto self = verdicts->handshakeLoad.lock();
    verdicts->handshakeLoad.reset();
    verdicts->chain = derChain(X509_STORE_CTX_get0_untrusted(context));
    bool trusted = false;
    if (self) {
        const auto judgement = self->trustJudgement();
        trusted = self->judgeServerTrust(verdicts->chain);
        if (trusted) {
            verdicts->acceptedInHandshakeOf = self->serial_;
            if (judgement) {
                verdicts->accepted.insert(TlsVerdicts::key(*judgement, self->currentUrl()));
            }
        }
    }
    if (!trusted) {
        verdicts->refused = true;
        X509_STORE_CTX_set_error(context, X509_V_ERR_APPLICATION_VERIFICATION);
    }
    return trusted ? 1 : 0;
}

int UrlConnection::Load::onPrerequest(void* user, char*, char*, int, int) {
    return static_cast<Load*>(user)->mayUseTlsConnection() ? CURL_PREREQFUNC_OK
                                                           : CURL_PREREQFUNC_ABORT;
}

bool UrlConnection::Load::mayUseTlsConnection() {
    const Url url = currentUrl();
    if (url.scheme() != "https") {
        return true;
    }
    SSL* tls = nullptr;
    curl_tlssessioninfo* session = nullptr;
    if (curl_easy_getinfo(easy_, CURLINFO_TLS_SSL_PTR, &session) == CURLE_OK && session &&
        session->backend == CURLSSLBACKEND_OPENSSL) {
        tls = static_cast<SSL*>(session->internals);
    }
    auto* verdicts =
        tls ? static_cast<TlsVerdicts*>(SSL_CTX_get_ex_data(SSL_get_SSL_CTX(tls), verdictsIndex()))
            : nullptr;
    const auto refuse = [&] {
        if (verdicts) {
            verdicts->refused = true;
        }
        // The connection is closed when this transfer ends, rather than kept for the next.
        forbidReuse();
        return false;
    };
    if (!verdicts) {
        bodyError_ = untrusted(url, "the connection's certificates cannot be read");
        return refuse();
    }
    if (verdicts->refused) {
        bodyError_ = untrusted(url, "the server's certificate was not accepted");
        return refuse();
    }
    if (verdicts->acceptedInHandshakeOf == serial_) {
        verdicts->acceptedInHandshakeOf = 0;
        return true;
    }
    const auto judgement = trustJudgement();
    if (judgement && verdicts->accepted.contains(TlsVerdicts::key(*judgement, url))) {
        return true;
    }
    if (verdicts->chain.empty()) {
        // A resumed session: the server sent no certificate, the session kept the chain.
        verdicts->chain = derChain(SSL_get_peer_cert_chain(tls));
    }
    if (judgeServerTrust(verdicts->chain)) {
        if (judgement) {
            verdicts->accepted.insert(TlsVerdicts::key(*judgement, url));
        }
        return true;
    }
    // A cancelled load ends without a verdict; a refusal leaves the reason in bodyError_.
    return bodyError_ ? refuse() : false;
}

std::optional<std::string> UrlConnection::Load::trustJudgement() {
    std::optional<std::string> judgement;
    tell(
        [&](UrlConnectionDelegate& d, UrlConnection& c) { judgement = d.serverTrustJudgement(c); });
    return judgement;
}

bool UrlConnection::Load::judgeServerTrust(std::vector<Bytes> chain) {
    const Url url = currentUrl();
    if (cancelled_ || ended_) {
        return false;
    }
    auto trust = ServerTrust::create(std::move(chain), TrustPolicy::ssl(url.host()));
    if (!trust) {
        bodyError_ = untrusted(url, "the server sent no readable certificate");
        return false;
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
        bodyError_ = untrusted(url, "the server's certificate was not accepted");
        return false;
    }
    if (answer_ == Answer::kUseCredential && credential_->serverTrust()) {
        return true;
    }
    const auto result = trust->evaluate();
    if (result == TrustResult::kProceed || result == TrustResult::kUnspecified) {
        return true;
    }
    bodyError_ = untrusted(url, trust->failureReason().empty() ? "the chain could not be evaluated"
                                                               : trust->failureReason());
    return false;
}

}  // namespace platform
