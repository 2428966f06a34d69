// The road of a reply: cipher text is deciphered and its JSON read. The first byte picks what
// the rest is: text handed to the decipher as it stands, or cipher bytes (sent as Base64) that
// decipher to noise, or a plain text enciphered first, which must decipher to itself.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "RZBase_Source/Encode/RAZududeCryptor.h"
#include "RZBase_Source/Encode/RAZududeUtils.h"
#include "RZBase_Source/Json/RAZududeRqJsonParser.h"
#include "platform/Utf8.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static RAZududeCryptor& cryptor = []() -> RAZududeCryptor& {
        RAZududeCryptor::sharedInstance().updateAESKey("507fcab25270157b37000010");
        return RAZududeCryptor::sharedInstance();
    }();
    if (size == 0) {
        return 0;
    }
    const std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
    std::optional<std::string> plain;
    switch (data[0] % 3) {
        case 0:
            plain = cryptor.AES128Decrypt(rest);
            break;
        case 1:
            plain = cryptor.AES128Decrypt(RAZududeUtils::base64EncodeData(
                {reinterpret_cast<const std::uint8_t*>(rest.data()), rest.size()}));
            break;
        default: {
            const auto cipher = cryptor.AES128Encrypt(rest);
            if (!cipher) {
                std::abort();
            }
            plain = cryptor.AES128Decrypt(*cipher);
            std::string_view expected = rest.substr(0, rest.find_last_not_of('\0') + 1);
            if (rest.find_last_not_of('\0') == std::string_view::npos) {
                expected = {};
            }
            if (platform::utf8::isValid(rest) ? plain != expected : plain.has_value()) {
                std::abort();
            }
        }
    }
    if (plain) {
        if (!platform::utf8::isValid(*plain) || (!plain->empty() && plain->back() == '\0')) {
            std::abort();
        }
        RAZududeRqJsonParser().objectWithString(*plain);
    }
    return 0;
}
