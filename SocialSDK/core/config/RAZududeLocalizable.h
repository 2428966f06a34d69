// Texts the share service shows: looked up in the main bundle's strings table
// "RAZududeLocalizable", with the built-in default (mostly Chinese) given at each call.
#pragma once

#include <string>
#include <string_view>

std::string RAZududeLocalizedString(std::string_view key, std::string_view defaultText);
