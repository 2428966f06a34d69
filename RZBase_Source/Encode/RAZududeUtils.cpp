#include "RZBase_Source/Encode/RAZududeUtils.h"

#include "platform/Log.h"
#include "platform/Url.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>

#include "RZBase_Source/Encode/RAZududeStringEncoding.h"
#include "RZBase_Source/Json/RAZududeRqJsonParser.h"
#include "RZBase_Source/Json/RAZududeRqJsonWriter.h"
#include "platform/NoDestructor.h"

namespace {

// The pool's threads and the network thread are never joined, so one of them may still be
// hashing a key (or enciphering, through the cryptor, which hashes with md5Value and so links
// this file) while the process ends. OpenSSL's own exit-time clean-up would free its tables
// under that thread; instead its state lives as long as the process, like the shared instances.
// The choice holds only if made by the process's first call into OpenSSL, hence a static
// initializer here, before main() and so before the network thread starts libcurl.
[[maybe_unused]] const bool kOpenSslOutlivesExit =
    OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr) == 1;

// The debug log is the app's standard output. One write per line, so that lines from several
// threads do not interleave.
void writeToStandardOutput(std::string_view line) {
    while (!line.empty()) {
        const ssize_t n = ::write(STDOUT_FILENO, line.data(), line.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return;
        }
        line.remove_prefix(static_cast<std::size_t>(n));
    }
}

std::string describeTrace(const std::vector<platform::Error>& trace) {
    platform::Array errors;
    for (const auto& error : trace) {
        errors.emplace_back(error.description());
    }
    return platform::Value(std::move(errors)).description();
}

}  // namespace

RAZududeUtils& RAZududeUtils::sharedInstance() {
    static platform::NoDestructor<RAZududeUtils> instance;
    return *instance;
}

std::string RAZududeUtils::urlEncode(std::string_view text) {
    return platform::percentEncode(text, "-_.~");
}

std::string RAZududeUtils::md5Value(std::string_view text) {
    // The text is hashed as a C string would be: up to its first zero byte.
    text = text.substr(0, text.find('\0'));
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    // Fetched once: handed EVP_md5(), each digest would look the algorithm up among the
    // providers again, which costs several times the hashing of a key.
    static const EVP_MD* const md5 = [] {
        const EVP_MD* fetched = EVP_MD_fetch(nullptr, "MD5", nullptr);
        return fetched ? fetched : EVP_md5();
    }();
    if (EVP_Digest(text.data(), text.size(), digest, &length, md5, nullptr) != 1) {
        return {};
    }
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(length * 2);
    for (unsigned int i = 0; i < length; ++i) {
        out += kHex[digest[i] >> 4];
        out += kHex[digest[i] & 0x0F];
    }
    return out;
}

std::string RAZududeUtils::base64EncodeData(std::span<const std::uint8_t> data) {
    static const RAZududeStringEncoding encoding =
        RAZududeStringEncoding::rfc4648Base64StringEncoding();
    return encoding.encode(data);
}

std::optional<std::string> RAZududeUtils::JSONFragment(const platform::Value& value) {
    RAZududeRqJsonWriter writer;
    auto text = writer.stringWithFragment(value);
    if (!text) {
        platform::consoleLog("-JSONFragment failed. Error trace is: %@",
                             describeTrace(writer.errorTrace()));
    }
    return text;
}

std::optional<platform::Value> RAZududeUtils::JSONValue(std::optional<std::string_view> text) {
    RAZududeRqJsonParser parser;
    auto value = parser.objectWithString(text);
    if (!value) {
        platform::consoleLog("-JSONValue failed. Error trace is: %@",
                             describeTrace(parser.errorTrace()));
    }
    return value;
}

void RAZududeUtils::setOpenLog(bool open) {
    sharedInstance().openLog_.store(open, std::memory_order_relaxed);
}

bool RAZududeUtils::openLog() {
    return sharedInstance().openLog_.load(std::memory_order_relaxed);
}

void RAZududeUtils::setPrefix(std::string prefix) {
    RAZududeUtils& utils = sharedInstance();
    platform::MutexLock lock(utils.prefixMutex_);
    utils.prefix_ = std::move(prefix);
}

std::string RAZududeUtils::prefix() {
    RAZududeUtils& utils = sharedInstance();
    platform::MutexLock lock(utils.prefixMutex_);
    return utils.prefix_;
}

void RAZududeUtils::outLog(std::string_view message) {
    if (openLog()) {
        writeLogLine(message);
    }
}

// The device fields will own this text once they exist; the log only needs it here.
std::string RAZududeUtils::logTimeText() {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    const auto millis = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min,
                  local.tm_sec, static_cast<int>(millis));
    return buffer;
}

void RAZududeUtils::writeLogLine(std::string_view message) {
    char head[64];
    std::snprintf(head, sizeof head, "[%s(%5d)] - ", logTimeText().c_str(),
                  static_cast<int>(::gettid()));
    std::string line = head;
    const std::string linePrefix = prefix();
    if (!linePrefix.empty()) {
        line += linePrefix;
        line += ' ';
    }
    line += message;
    line += " \n";
    writeToStandardOutput(line);
}
