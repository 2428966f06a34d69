// The errors of URL loading, shared by the connection and the session.
#pragma once

#include <string>

#include "platform/Error.h"
#include "platform/net/UrlRequest.h"

namespace platform::detail {

// An error of kUrlErrorDomain that names the URL it failed on.
Error urlError(long code, const std::string& description, const Url& url);

}  // namespace platform::detail
