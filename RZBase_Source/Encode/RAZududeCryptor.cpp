#include "RZBase_Source/Encode/RAZududeCryptor.h"

#include <openssl/evp.h>

#include <memory>

#include "RZBase_Source/Encode/RAZududeBase64.h"
#include "RZBase_Source/Encode/RAZududeUtils.h"
#include "platform/NoDestructor.h"
#include "platform/Utf8.h"

namespace {

constexpr std::size_t kBlockSize = 16;
static_assert(sizeof RAZududeCryptor::kInitVector == kBlockSize + 1);

using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)>;

// AES-128-CBC without padding: the input is whole blocks already (or the run fails).
std::optional<platform::Bytes> runCipher(bool encrypt, const std::uint8_t* key,
                                         const std::uint8_t* input, std::size_t length) {
    if (length % kBlockSize != 0 || length > static_cast<std::size_t>(INT32_MAX)) {
        return std::nullopt;
    }
    CipherContext context(EVP_CIPHER_CTX_new(), &EVP_CIPHER_CTX_free);
    if (!context) {
        return std::nullopt;
    }
    const auto* iv = reinterpret_cast<const unsigned char*>(RAZududeCryptor::kInitVector);
    if (EVP_CipherInit_ex(context.get(), EVP_aes_128_cbc(), nullptr, key, iv, encrypt ? 1 : 0) !=
            1 ||
        EVP_CIPHER_CTX_set_padding(context.get(), 0) != 1) {
        return std::nullopt;
    }
    platform::Bytes out(length + kBlockSize);
    int written = 0;
    int finished = 0;
    if (EVP_CipherUpdate(context.get(), out.data(), &written, input, static_cast<int>(length)) !=
            1 ||
        EVP_CipherFinal_ex(context.get(), out.data() + written, &finished) != 1) {
        return std::nullopt;
    }
    out.resize(static_cast<std::size_t>(written + finished));
    return out;
}

}  // namespace

RAZududeCryptor::Key RAZududeCryptor::keyFromAppKey(std::string_view appKey) {
    const std::string digest = RAZududeUtils::md5Value(appKey);
    Key key{};
    for (std::size_t i = 0; i < key.size() && i < digest.size(); ++i) {
        key[i] = static_cast<std::uint8_t>(digest[i]);
    }
    return key;
}

RAZududeCryptor& RAZududeCryptor::sharedInstance() {
    static platform::NoDestructor<RAZududeCryptor> instance;
    return *instance;
}

RAZududeCryptor::RAZududeCryptor() = default;

void RAZududeCryptor::updateAESKey(std::string_view appKey) {
    const Key key = keyFromAppKey(appKey);
    platform::MutexLock lock(mutex_);
    key_ = key;
}

bool RAZududeCryptor::hasKey() const {
    return currentKey().has_value();
}

std::optional<RAZududeCryptor::Key> RAZududeCryptor::currentKey() const {
    platform::MutexLock lock(mutex_);
    return key_;
}

std::optional<std::string> RAZududeCryptor::AES128Encrypt(std::string_view plainText) const {
    const auto key = currentKey();
    if (!key) {
        return std::nullopt;
    }
    // Zero fill to the next whole block, and by a whole block when the text fills its last
    // one: the receiver strips the zeros.
    platform::Bytes padded(plainText.begin(), plainText.end());
    padded.resize(plainText.size() + kBlockSize - plainText.size() % kBlockSize, 0);
    const auto cipher = runCipher(true, key->data(), padded.data(), padded.size());
    if (!cipher) {
        return std::nullopt;
    }
    return RAZududeUtils::base64EncodeData(*cipher);
}

std::optional<std::string> RAZududeCryptor::AES128Decrypt(std::string_view cipherText) const {
    const auto key = currentKey();
    if (!key) {
        return std::nullopt;
    }
    const auto cipher = RAZududeBase64::decodeBytes(cipherText.data(), cipherText.size());
    if (!cipher) {
        return std::nullopt;
    }
    const auto plain = runCipher(false, key->data(), cipher->data(), cipher->size());
    if (!plain) {
        return std::nullopt;
    }
    std::string text(plain->begin(), plain->end());
    const std::size_t last = text.find_last_not_of('\0');
    text.resize(last == std::string::npos ? 0 : last + 1);
    if (!platform::utf8::isValid(text)) {
        return std::nullopt;
    }
    return text;
}
