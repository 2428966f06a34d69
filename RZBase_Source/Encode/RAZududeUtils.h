// Small helpers that the whole share service leans on: percent-encoding, MD5 text, Base64
// text, JSON text in and out, and the share service's switchable debug log.
//
// Any thread: the log switch is atomic and the log prefix guarded.
#pragma once

#include <atomic>
#include <concepts>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

#include "platform/Mutex.h"
#include "platform/NoDestructor.h"
#include "platform/Value.h"

class RAZududeUtils {
  public:
    static RAZududeUtils& sharedInstance();

    // Percent-encodes the bytes of the text: only ASCII letters, digits and - _ . ~ stay as
    // they are, every other byte becomes % and two uppercase hexadecimal digits.
    static std::string urlEncode(std::string_view text);

    // MD5 of the text's bytes up to the first zero byte, as 32 uppercase hexadecimal digits.
    static std::string md5Value(std::string_view text);

    // Standard Base64 with "=" padding and no line breaks.
    static std::string base64EncodeData(std::span<const std::uint8_t> data);

    static std::string utilsVersion() { return "1.2.4"; }

    // Any JSON value as compact text, keys in their own order; nothing (and a console line
    // with the writer's error trace) when the value cannot be written.
    static std::optional<std::string> JSONFragment(const platform::Value& value);
    // An object or array read from the text (which may end in zero characters); nothing
    // (and a console line with the parser's error trace) when the text is not one.
    static std::optional<platform::Value> JSONValue(std::optional<std::string_view> text);

    // The debug log, on standard output: off until switched on. Each line starts with the
    // time and the calling thread, then the prefix (when set) and the message.
    static void setOpenLog(bool open);
    static bool openLog();
    static void setPrefix(std::string prefix);
    static std::string prefix();

    // Writes the message as it stands: it is text, never a format.
    static void outLog(std::string_view message);
    // Builds the message only when the log is on.
    template <typename MakeMessage>
    requires std::is_invocable_r_v<std::string, MakeMessage>
    static void outLog(MakeMessage&& makeMessage) {
        if (openLog()) {
            writeLogLine(std::forward<MakeMessage>(makeMessage)());
        }
    }

    // The log line's time, "HH:mm:ss.SSS" in local time.
    static std::string logTimeText();

    RAZududeUtils(const RAZududeUtils&) = delete;
    RAZududeUtils& operator=(const RAZududeUtils&) = delete;

  private:
    friend class platform::NoDestructor<RAZududeUtils>;
    RAZududeUtils() = default;
    static void writeLogLine(std::string_view message);

    std::atomic<bool> openLog_{false};
    platform::Mutex prefixMutex_;
    std::string prefix_ RZ_GUARDED_BY(prefixMutex_);
};
