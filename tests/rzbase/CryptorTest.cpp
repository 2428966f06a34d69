#include "RZBase_Source/Encode/RAZududeCryptor.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/support/TempDir.h"

using testing_support::hexOf;
using testing_support::lines;

namespace {

constexpr char kAppKey[] = "507fcab25270157b37000010";

// The peers derive the key themselves from the AppKey, zero-fill the text, and encipher it
// with both the `cryptography` package and the openssl command line. For each text they print
// the two Base64 cipher texts on one line.
constexpr char kPeerScript[] = R"(
import base64, hashlib, subprocess, sys
from cryptography.hazmat.primitives.ciphers import Cipher, algorithms, modes

lines = sys.stdin.read().split("\n")
key = hashlib.md5(lines[0].encode()).hexdigest().upper()[:16].encode()
iv = b"Qa7.kx3/Wm-R2p9e"
for line in lines[1:]:
    plain = bytes.fromhex(line)
    plain += b"\0" * (16 - len(plain) % 16)
    encryptor = Cipher(algorithms.AES(key), modes.CBC(iv)).encryptor()
    ours = encryptor.update(plain) + encryptor.finalize()
    theirs = subprocess.run(
        ["openssl", "enc", "-aes-128-cbc", "-nopad", "-nosalt", "-K", key.hex(), "-iv", iv.hex()],
        input=plain, capture_output=True, check=True).stdout
    print(base64.b64encode(ours).decode(), base64.b64encode(theirs).decode())
)";

std::vector<std::pair<std::string, std::string>> peerCiphers(
    const std::string& appKey, const std::vector<std::string>& texts) {
    std::string input = appKey;
    for (const auto& text : texts) {
        input += "\n" + hexOf(text);
    }
    std::vector<std::pair<std::string, std::string>> out;
    for (const auto& line : lines(testing_support::runPython(kPeerScript, input))) {
        const auto space = line.find(' ');
        out.emplace_back(line.substr(0, space), line.substr(space + 1));
    }
    return out;
}

}  // namespace

TEST(RAZududeCryptor, CipherTextMatchesOpensslAndPythonCryptography) {
    RAZududeCryptor cryptor;
    cryptor.updateAESKey(kAppKey);
    const std::vector<std::string> texts = {
        "",
        "fifteen bytes..",
        "sixteen bytes...",
        "seventeen bytes..",
        "分享到微信 ✓ \xF0\x9F\x8E\x89 {\"ud\":1}",
        std::string(1000, 'x'),
    };
    const auto peers = peerCiphers(kAppKey, texts);
    ASSERT_EQ(peers.size(), texts.size());
    for (std::size_t i = 0; i < texts.size(); ++i) {
        SCOPED_TRACE(texts[i]);
        const auto cipher = cryptor.AES128Encrypt(texts[i]);
        ASSERT_TRUE(cipher);
        EXPECT_EQ(*cipher, peers[i].first);
        EXPECT_EQ(*cipher, peers[i].second);
        // And the peers' cipher text reads back as the text, without the zero fill.
        EXPECT_EQ(cryptor.AES128Decrypt(peers[i].second), texts[i]);
    }
    // Whole blocks of zero fill: one for the empty text and for a full block, none extra
    // for a text one short of a block.
    EXPECT_EQ(cryptor.AES128Encrypt("")->size(), 24u);
    EXPECT_TRUE(cryptor.AES128Encrypt("")->ends_with("=="));
    EXPECT_EQ(cryptor.AES128Encrypt(texts[1])->size(), 24u);
    EXPECT_EQ(cryptor.AES128Encrypt(texts[2])->size(), 44u);
}

TEST(RAZududeCryptor, DecipheredTextCarriesNoZeroFill) {
    RAZududeCryptor cryptor;
    cryptor.updateAESKey(kAppKey);
    const auto text = cryptor.AES128Decrypt(*cryptor.AES128Encrypt("abc"));
    ASSERT_TRUE(text);
    EXPECT_EQ(text->size(), 3u);
    EXPECT_EQ(*text, "abc");
    EXPECT_EQ(cryptor.AES128Decrypt(*cryptor.AES128Encrypt("")), "");
}

TEST(RAZududeCryptor, RefusesWhatIsNotCipherTextOfUtf8) {
    RAZududeCryptor cryptor;
    cryptor.updateAESKey(kAppKey);
    EXPECT_FALSE(cryptor.AES128Decrypt(""));
    EXPECT_FALSE(cryptor.AES128Decrypt("not base64!"));
    EXPECT_FALSE(cryptor.AES128Decrypt("QUJD"));  // three bytes: no whole block
    const std::string twoBlocks = *cryptor.AES128Encrypt(std::string(20, 'a'));
    EXPECT_FALSE(cryptor.AES128Decrypt(twoBlocks.substr(0, twoBlocks.size() - 4) + "QUJD"));

    // Enciphered by the peer: bytes that are no UTF-8 text.
    const auto peers = peerCiphers(kAppKey, {"\xFF\xFE\x80 broken"});
    ASSERT_EQ(peers.size(), 1u);
    EXPECT_FALSE(cryptor.AES128Decrypt(peers[0].first));
}

TEST(RAZududeCryptor, KeyComesFromTheAppKeyWhereverItIsSet) {
    RAZududeCryptor keyless;
    EXPECT_FALSE(keyless.hasKey());
    EXPECT_FALSE(keyless.AES128Encrypt("abc"));

    keyless.updateAESKey(kAppKey);
    EXPECT_TRUE(keyless.hasKey());
    RAZududeCryptor rekeyed;
    rekeyed.updateAESKey(kAppKey);
    EXPECT_EQ(keyless.AES128Encrypt("abc"), rekeyed.AES128Encrypt("abc"));

    // A new AppKey re-keys the cryptor: the old cipher text no longer reads back.
    const std::string cipher = *rekeyed.AES128Encrypt("{\"a\":1}");
    rekeyed.updateAESKey("another app key 12345678");
    EXPECT_NE(*rekeyed.AES128Encrypt("{\"a\":1}"), cipher);
    EXPECT_NE(rekeyed.AES128Decrypt(cipher), "{\"a\":1}");

    EXPECT_EQ(&RAZududeCryptor::sharedInstance(), &RAZududeCryptor::sharedInstance());
}
