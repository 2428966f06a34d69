#include "TlsLoopbackServer.h"
#include "ServerPlacement.h"

#include "LoopbackServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <stdexcept>

namespace {

template <typename T, void (*Free)(T*)>
struct Freer {
    void operator()(T* p) const { Free(p); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, Freer<EVP_PKEY, EVP_PKEY_free>>;
using CertificatePtr = std::unique_ptr<X509, Freer<X509, X509_free>>;
using BioPtr = std::unique_ptr<BIO, Freer<BIO, BIO_free_all>>;

void require(bool ok, const char* what) {
    if (!ok) {
        throw std::runtime_error(std::string("the TLS benchmark server cannot ") + what);
    }
}

void addExtension(X509* certificate, int nid, const char* value) {
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, certificate, certificate, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
    require(extension && X509_add_ext(certificate, extension, -1) == 1, "make its certificate");
    X509_EXTENSION_free(extension);
}

// A certificate for the loopback names, signed by its own key.
CertificatePtr selfSigned(EVP_PKEY* key) {
    CertificatePtr certificate(X509_new());
    require(certificate != nullptr, "make its certificate");
    X509* c = certificate.get();
    X509_set_version(c, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(c), 1);
    X509_gmtime_adj(X509_getm_notBefore(c), -3600);
    X509_gmtime_adj(X509_getm_notAfter(c), 24 * 3600);
    X509_NAME* name = X509_get_subject_name(c);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("localhost"), -1, -1, 0);
    X509_set_issuer_name(c, name);
    X509_set_pubkey(c, key);
    addExtension(c, NID_basic_constraints, "critical,CA:FALSE");
    addExtension(c, NID_key_usage, "critical,digitalSignature");
    addExtension(c, NID_ext_key_usage, "serverAuth");
    addExtension(c, NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost");
    require(X509_sign(c, key, EVP_sha256()) > 0, "sign its certificate");
    return certificate;
}

bool writeAll(SSL* tls, const std::string& data) {
    std::size_t written = 0;
    return SSL_write_ex(tls, data.data(), data.size(), &written) == 1 && written == data.size();
}

}  // namespace

TlsLoopbackServer::TlsLoopbackServer() {
    KeyPtr key(EVP_EC_gen("P-256"));
    require(key != nullptr, "make its key");
    const CertificatePtr certificate = selfSigned(key.get());

    const int length = i2d_X509(certificate.get(), nullptr);
    require(length > 0, "encode its certificate");
    der_.resize(static_cast<std::size_t>(length));
    unsigned char* out = der_.data();
    i2d_X509(certificate.get(), &out);
    BioPtr pem(BIO_new(BIO_s_mem()));
    require(pem && PEM_write_bio_X509(pem.get(), certificate.get()) == 1, "encode its certificate");
    char* text = nullptr;
    const long textLength = BIO_get_mem_data(pem.get(), &text);
    pem_.assign(text, static_cast<std::size_t>(textLength));

    context_ = SSL_CTX_new(TLS_server_method());
    require(context_ != nullptr, "make its TLS context");
    require(SSL_CTX_use_certificate(context_, certificate.get()) == 1 &&
                SSL_CTX_use_PrivateKey(context_, key.get()) == 1,
            "use its certificate");

    listener_ = listenOnLoopback(port_);
    acceptor_ = std::thread([this] { acceptLoop(); });
}

TlsLoopbackServer::~TlsLoopbackServer() {
    stopping_ = true;
    shutdown(listener_, SHUT_RDWR);
    close(listener_);
    acceptor_.join();
    SSL_CTX_free(context_);  // the connections still served hold their own references
}

std::string TlsLoopbackServer::url(const std::string& path) const {
    return "https://127.0.0.1:" + std::to_string(port_) + path;
}

void TlsLoopbackServer::acceptLoop() {
    while (!stopping_) {
        const int fd = accept(listener_, nullptr, nullptr);
        if (fd < 0) {
            continue;
        }
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        SSL_CTX_up_ref(context_);
        std::thread([this, fd] { serve(fd); }).detach();
    }
}

void TlsLoopbackServer::serve(int fd) {
    pthread_setname_np(pthread_self(), "bench-tls-server");
    bench::moveToServerProcessors();
    SSL* tls = SSL_new(context_);
    SSL_CTX_free(context_);  // the reference taken for this thread; the SSL keeps its own
    if (!tls || SSL_set_fd(tls, fd) != 1 || SSL_accept(tls) != 1) {
        SSL_free(tls);
        close(fd);
        return;
    }
    ++handshakes_;
    static const std::string kResponse =
        "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 16\r\n\r\n"
        "0123456789abcdef";
    std::string pending;
    char buffer[16384];
    for (bool open = true; open;) {
        std::size_t end;
        while ((end = pending.find("\r\n\r\n")) == std::string::npos) {
            std::size_t n = 0;
            if (SSL_read_ex(tls, buffer, sizeof buffer, &n) != 1) {
                open = false;
                break;
            }
            pending.append(buffer, n);
        }
        if (!open) {
            break;
        }
        pending.erase(0, end + 4);  // GETs only: no body to drain
        open = writeAll(tls, kResponse);
    }
    SSL_shutdown(tls);
    SSL_free(tls);
    close(fd);
}
