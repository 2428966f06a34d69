// The cipher of the share service: AES-128-CBC over zero-filled UTF-8 text, with a fixed
// initialisation vector and a key derived from the app's AppKey; cipher text travels as
// Base64.
//
// Any thread: the key is guarded, so requests may be enciphered off the main thread while
// the app re-keys.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Mutex.h"

class RAZududeCryptor {
  public:
    static constexpr char kInitVector[] = "Qa7.kx3/Wm-R2p9e";  // 16 bytes, used raw

    // The process's cryptor, made on first use and never destroyed.
    static RAZududeCryptor& sharedInstance();

    RAZududeCryptor();
    RAZududeCryptor(const RAZududeCryptor&) = delete;
    RAZududeCryptor& operator=(const RAZududeCryptor&) = delete;

    // Re-keys from the AppKey: the key is the first 16 characters of its uppercase MD5 text.
    // Whoever keeps the AppKey hands it in when it changes; until then the cryptor has no key.
    void updateAESKey(std::string_view appKey);
    bool hasKey() const;

    // Base64 of the cipher text; nothing when no key is known or the cipher fails.
    std::optional<std::string> AES128Encrypt(std::string_view plainText) const;
    // The text without the sender's zero fill; nothing when the input is not Base64 of
    // whole cipher blocks, no key is known, or the result is not UTF-8.
    std::optional<std::string> AES128Decrypt(std::string_view cipherText) const;

  private:
    using Key = std::array<std::uint8_t, 16>;
    static Key keyFromAppKey(std::string_view appKey);
    std::optional<Key> currentKey() const;

    // Requests may be enciphered off the main thread while the app re-keys.
    mutable platform::Mutex mutex_;
    std::optional<Key> key_ RZ_GUARDED_BY(mutex_);
};
