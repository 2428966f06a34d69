// A platform as the handlers build them: name, type, display name from the strings table, and
// the three icons of the resource bundle.
#pragma once

#include <memory>
#include <string>

#include "SocialSDK/core/platform/RAZududeSnsPlatform.h"

std::shared_ptr<RAZududeSnsPlatform> makeHandlerPlatform(const std::string& name, int type,
                                                         const char* displayKey,
                                                         const char* displayText,
                                                         const char* iconStem);
