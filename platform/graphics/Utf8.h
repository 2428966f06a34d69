// UTF-8 decoding for measurement and text editing; malformed bytes read as U+FFFD.
#pragma once

#include <string>
#include <string_view>

namespace platform::utf8 {

std::u32string decode(std::string_view text);
std::string encode(std::u32string_view text);
// Wide code points (East Asian wide and full-width forms, emoji) take two columns.
bool isWide(char32_t c);

}  // namespace platform::utf8
