// The reading of a response's header lines, shared by the load that receives them and the
// response that turns them into fields when they are first asked for: both must read a line
// the same way.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/net/UrlResponse.h"

namespace platform::detail {

// The text without its leading blanks and its trailing blanks and line ends. Inline: every
// header line of every response passes here several times.
inline std::string_view trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' ||
                             text.back() == '\n')) {
        text.remove_suffix(1);
    }
    return text;
}

// A field line's name and value without the blanks around them; nullopt for a line without a
// colon, which holds no field.
std::optional<HeaderBlock::Field> fieldLine(std::string_view line);

// The one length that a Content-Length value (digits, or a list of the same digits) gives,
// together with what an earlier field gave; nullopt when they are not one number.
std::optional<std::string> contentLength(std::string_view value,
                                         const std::optional<std::string>& earlier);

}  // namespace platform::detail
