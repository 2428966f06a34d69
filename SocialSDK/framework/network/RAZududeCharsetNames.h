// The platform's number for a charset name, as a server writes it in a Content-Type
// ("ISO-8859-1", "utf-8", "Shift_JIS", "gbk"), so that a response's text encoding compares
// with the numbers of rzs_network::StringEncoding. ICU knows the charsets' aliases. Pure and
// safe from any thread.
#pragma once

#include <optional>
#include <string_view>

#include "SocialSDK/framework/network/RAZududeNetworkingText.h"

// Charsets servers use that the platform numbers through its wider table (0x80000000 and the
// table's number), beyond those of rzs_network.
inline constexpr rzs_network::StringEncoding kRAZududeGBKStringEncoding = 0x80000631;
inline constexpr rzs_network::StringEncoding kRAZududeEUCCNStringEncoding = 0x80000930;  // GB2312
inline constexpr rzs_network::StringEncoding kRAZududeEUCKRStringEncoding = 0x80000940;
inline constexpr rzs_network::StringEncoding kRAZududeBig5StringEncoding = 0x80000A03;
inline constexpr rzs_network::StringEncoding kRAZududeKOI8RStringEncoding = 0x80000A02;

// nullopt for an empty name, a name ICU does not know, or a charset without a number here.
std::optional<rzs_network::StringEncoding> RAZududeStringEncodingForIANACharsetName(
    std::string_view name);
