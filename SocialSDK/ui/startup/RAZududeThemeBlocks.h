// The style blocks of the themes: theme 0 a dark navigation bar and icon grid, any other theme a
// light navigation bar and table cells. installSocialUI() hands them to the configuration.
#pragma once

#include "SocialSDK/core/screen/RAZududeScreenHooks.h"

RAZududeScreenHooks::ThemeBlocks RAZududeThemeBlocks(int theme);
