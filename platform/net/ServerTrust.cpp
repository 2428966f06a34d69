#include "platform/net/ServerTrust.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <mutex>
#include <new>
#include <string_view>
#include <utility>

namespace platform {

namespace {

struct X509Free {
    void operator()(X509* cert) const { X509_free(cert); }
};
struct StoreContextFree {
    void operator()(X509_STORE_CTX* context) const { X509_STORE_CTX_free(context); }
};
struct StackFree {
    void operator()(STACK_OF(X509) * stack) const { sk_X509_pop_free(stack, X509_free); }
};
struct BioFree {
    void operator()(BIO* bio) const { BIO_free(bio); }
};

using X509Ptr = std::unique_ptr<X509, X509Free>;
using StoreContextPtr = std::unique_ptr<X509_STORE_CTX, StoreContextFree>;
using StackPtr = std::unique_ptr<STACK_OF(X509), StackFree>;
using BioPtr = std::unique_ptr<BIO, BioFree>;
using StorePtr = std::shared_ptr<X509_STORE>;

// Evaluation runs inside a TLS handshake, whose own code reads OpenSSL's per-thread error queue
// after each call; what we leave there must be exactly what was there before.
class ErrorQueueGuard {
  public:
    ErrorQueueGuard() { ERR_set_mark(); }
    ~ErrorQueueGuard() { ERR_pop_to_mark(); }
    ErrorQueueGuard(const ErrorQueueGuard&) = delete;
    ErrorQueueGuard& operator=(const ErrorQueueGuard&) = delete;
};

// One whole DER certificate: bytes left over mean the data is something else.
X509Ptr parseDer(const Bytes& der) {
    if (der.empty() || der.size() > static_cast<std::size_t>(LONG_MAX)) {
        return nullptr;
    }
    const unsigned char* cursor = der.data();
    X509Ptr cert(d2i_X509(nullptr, &cursor, static_cast<long>(der.size())));
    if (!cert || cursor != der.data() + der.size()) {
        return nullptr;
    }
    return cert;
}

std::optional<Bytes> derOf(X509* cert) {
    const int length = i2d_X509(cert, nullptr);
    if (length <= 0) {
        return std::nullopt;
    }
    Bytes der(static_cast<std::size_t>(length));
    unsigned char* out = der.data();
    if (i2d_X509(cert, &out) != length) {
        return std::nullopt;
    }
    return der;
}

StorePtr adoptStore(X509_STORE* store) {
    if (!store) {
        return nullptr;
    }
    return StorePtr(store, X509_STORE_free);
}

// OpenSSL works out a certificate's extensions (its key identifiers among them) the first time
// a chain is built through it and keeps them in the certificate: done then, on several threads
// at once, for an anchor of a shared store, the writes race. Done here, before the store is
// shared, they are only read after.
void prepareAnchors(X509_STORE* store) {
    STACK_OF(X509_OBJECT)* objects = X509_STORE_get0_objects(store);
    for (int i = 0; i < sk_X509_OBJECT_num(objects); ++i) {
        if (X509* cert = X509_OBJECT_get0_X509(sk_X509_OBJECT_value(objects, i))) {
            X509_check_purpose(cert, -1, 0);
        }
    }
}

// Anchors that cannot be read anchor nothing; the rest still count.
StorePtr storeWithAnchors(const std::vector<Bytes>& anchors) {
    StorePtr store = adoptStore(X509_STORE_new());
    if (!store) {
        return nullptr;
    }
    for (const auto& der : anchors) {
        if (X509Ptr cert = parseDer(der)) {
            X509_STORE_add_cert(store.get(), cert.get());
        }
    }
    prepareAnchors(store.get());
    return store;
}

// The machine's store is read once: its certificate folder is consulted lazily and under
// OpenSSL's own lock, so one store serves every thread.
StorePtr machineStore() {
    static const auto* const store = [] {
        ErrorQueueGuard guard;
        StorePtr made = adoptStore(X509_STORE_new());
        if (made) {
            X509_STORE_set_default_paths(made.get());
            prepareAnchors(made.get());  // those of the bundle file; a folder's come lazily
        }
        return new StorePtr(std::move(made));
    }();
    return *store;
}

struct AnchorOverride {
    std::mutex mutex;
    StorePtr store;
    std::uint64_t generation = 0;  // how often the anchors were replaced
};

AnchorOverride& anchorOverride() {
    static auto* const instance = new AnchorOverride;  // never destroyed: the network thread
    return *instance;                                  // may evaluate while the process exits
}

StorePtr systemStore() {
    {
        auto& testAnchors = anchorOverride();
        std::lock_guard lock(testAnchors.mutex);
        if (testAnchors.store) {
            return testAnchors.store;
        }
    }
    return machineStore();
}

// Asks for the host (or address) that the certificate must name. False when the name can never
// match anything.
bool requireHost(X509_VERIFY_PARAM* param, std::string host) {
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    }
    if (host.empty() || host.find('\0') != std::string::npos) {
        return false;
    }
    if (X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str()) == 1) {
        return true;
    }
    return X509_VERIFY_PARAM_set1_host(param, host.data(), host.size()) == 1;
}

int refusePassword(char*, int, int, void*) {
    return -1;
}

}  // namespace

TrustPolicy TrustPolicy::ssl(std::optional<std::string> host) {
    TrustPolicy policy;
    policy.ssl_ = true;
    policy.host_ = std::move(host);
    return policy;
}

TrustPolicy TrustPolicy::basicX509() {
    return TrustPolicy();
}

ServerTrust::ServerTrust(std::vector<Bytes> chain, TrustPolicy policy)
    : chain_(std::move(chain)), policy_(std::move(policy)) {}

std::shared_ptr<ServerTrust> ServerTrust::create(std::vector<Bytes> chain, TrustPolicy policy) {
    if (chain.empty()) {
        return nullptr;
    }
    ErrorQueueGuard guard;
    for (const auto& der : chain) {
        if (!parseDer(der)) {
            return nullptr;
        }
    }
    return std::shared_ptr<ServerTrust>(new ServerTrust(std::move(chain), std::move(policy)));
}

std::optional<TrustResult> ServerTrust::evaluate() {
    ErrorQueueGuard guard;
    failureReason_.clear();
    const auto couldNotRun = [this]() -> std::optional<TrustResult> {
        failureReason_ = "the trust could not be evaluated";
        return std::nullopt;
    };

    X509Ptr leaf = parseDer(chain_.front());
    StackPtr untrusted(sk_X509_new_null());
    if (!leaf || !untrusted) {
        return couldNotRun();
    }
    for (std::size_t i = 1; i < chain_.size(); ++i) {
        X509Ptr cert = parseDer(chain_[i]);
        if (!cert || !sk_X509_push(untrusted.get(), cert.get())) {
            return couldNotRun();
        }
        cert.release();  // the stack owns it now
    }

    const StorePtr store = anchors_ ? storeWithAnchors(*anchors_) : systemStore();
    StoreContextPtr context(X509_STORE_CTX_new());
    if (!store || !context ||
        X509_STORE_CTX_init(context.get(), store.get(), leaf.get(), untrusted.get()) != 1) {
        return couldNotRun();
    }
    X509_VERIFY_PARAM* param = X509_STORE_CTX_get0_param(context.get());
    // An anchor need not be a root: a pinned intermediate or leaf ends the chain where it stands.
    X509_VERIFY_PARAM_set_flags(param, X509_V_FLAG_PARTIAL_CHAIN);
    if (policy_.isSsl()) {
        X509_STORE_CTX_set_purpose(context.get(), X509_PURPOSE_SSL_SERVER);
        if (policy_.host() && !requireHost(param, *policy_.host())) {
            failureReason_ = X509_verify_cert_error_string(X509_V_ERR_HOSTNAME_MISMATCH);
            return TrustResult::kRecoverableTrustFailure;
        }
    }

    const int verified = X509_verify_cert(context.get());
    if (verified == 1) {
        return TrustResult::kUnspecified;
    }
    const int error = X509_STORE_CTX_get_error(context.get());
    if (verified < 0 || error == X509_V_OK || error == X509_V_ERR_OUT_OF_MEM) {
        return couldNotRun();
    }
    failureReason_ = X509_verify_cert_error_string(error);
    return TrustResult::kRecoverableTrustFailure;
}

std::optional<Bytes> ServerTrust::publicKey() const {
    return publicKeyOfCertificate(chain_.front());
}

std::optional<Bytes> ServerTrust::publicKeyOfCertificate(const Bytes& certificate) {
    ErrorQueueGuard guard;
    X509Ptr cert = parseDer(certificate);
    // A key of a kind that cannot be decoded is no key at all.
    if (!cert || !X509_get0_pubkey(cert.get())) {
        return std::nullopt;
    }
    X509_PUBKEY* info = X509_get_X509_PUBKEY(cert.get());
    const int length = i2d_X509_PUBKEY(info, nullptr);
    if (length <= 0) {
        return std::nullopt;
    }
    Bytes der(static_cast<std::size_t>(length));
    unsigned char* out = der.data();
    if (i2d_X509_PUBKEY(info, &out) != length) {
        return std::nullopt;
    }
    return der;
}

void ServerTrust::setSystemAnchorsForTesting(std::optional<std::vector<Bytes>> anchors) {
    StorePtr store;
    if (anchors) {
        ErrorQueueGuard guard;
        store = storeWithAnchors(*anchors);
    }
    auto& testAnchors = anchorOverride();
    std::lock_guard lock(testAnchors.mutex);
    testAnchors.store = std::move(store);
    ++testAnchors.generation;
}

std::string ServerTrust::systemAnchorsName() {
    auto& testAnchors = anchorOverride();
    std::lock_guard lock(testAnchors.mutex);
    return "system#" + std::to_string(testAnchors.generation);
}

std::string ServerTrust::fingerprintOf(const std::vector<Bytes>& certificates) {
    ErrorQueueGuard guard;
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> digest(EVP_MD_CTX_new(),
                                                                   EVP_MD_CTX_free);
    unsigned char sum[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    bool ok = digest && EVP_DigestInit_ex(digest.get(), EVP_sha256(), nullptr) == 1;
    for (const auto& certificate : certificates) {
        const std::uint64_t size = certificate.size();
        ok = ok && EVP_DigestUpdate(digest.get(), &size, sizeof size) == 1 &&
             EVP_DigestUpdate(digest.get(), certificate.data(), certificate.size()) == 1;
    }
    if (!(ok && EVP_DigestFinal_ex(digest.get(), sum, &length) == 1)) {
        throw std::bad_alloc();  // a digest fails only when memory does
    }
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    for (unsigned int i = 0; i < length; ++i) {
        out += kHex[sum[i] >> 4];
        out += kHex[sum[i] & 0xf];
    }
    return out;
}

std::vector<Bytes> certificatesFromPemOrDer(const Bytes& data) {
    ErrorQueueGuard guard;
    std::vector<Bytes> certificates;
    static constexpr std::string_view kPemBegin = "-----BEGIN ";
    const bool isPem =
        std::search(data.begin(), data.end(), kPemBegin.begin(), kPemBegin.end()) != data.end();
    if (!isPem) {
        if (parseDer(data)) {
            certificates.push_back(data);
        }
        return certificates;
    }
    if (data.size() > static_cast<std::size_t>(INT_MAX)) {
        return certificates;
    }
    BioPtr bio(BIO_new_mem_buf(data.data(), static_cast<int>(data.size())));
    if (!bio) {
        return certificates;
    }
    // Blocks of other kinds are passed over by the reader; a damaged certificate block is
    // skipped so that the good ones after it still count.
    for (std::size_t left = BIO_pending(bio.get()); left > 0;) {
        X509Ptr cert(PEM_read_bio_X509(bio.get(), nullptr, refusePassword, nullptr));
        if (cert) {
            if (auto der = derOf(cert.get())) {
                certificates.push_back(std::move(*der));
            }
        }
        const std::size_t now = BIO_pending(bio.get());
        if (now >= left) {
            break;
        }
        left = now;
    }
    return certificates;
}

}  // namespace platform
