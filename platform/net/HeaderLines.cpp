#include "platform/net/detail/HeaderLines.h"

#include <algorithm>

namespace platform::detail {

std::optional<HeaderBlock::Field> fieldLine(std::string_view line) {
    const std::string_view content = trim(line);
    const auto colon = content.find(':');
    if (colon == std::string_view::npos) {
        return std::nullopt;
    }
    return HeaderBlock::Field{trim(content.substr(0, colon)), trim(content.substr(colon + 1))};
}

std::optional<std::string> contentLength(std::string_view value,
                                         const std::optional<std::string>& earlier) {
    std::string joined;
    if (earlier) {
        joined = *earlier + "," + std::string(value);
        value = joined;
    }
    std::optional<std::string_view> length;
    while (true) {
        const auto comma = value.find(',');
        const std::string_view item = trim(value.substr(0, comma));
        if (item.empty() || item.size() > 18 ||
            !std::all_of(item.begin(), item.end(), [](char c) { return c >= '0' && c <= '9'; }) ||
            (length && item != *length)) {
            return std::nullopt;
        }
        length = item;
        if (comma == std::string_view::npos) {
            return std::string(*length);
        }
        value.remove_prefix(comma + 1);
    }
}

}  // namespace platform::detail
