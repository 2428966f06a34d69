// A place on the earth, as a share or a comment may carry it: degrees of latitude and
// longitude.
#pragma once

namespace platform {

struct Location {
    double latitude = 0;
    double longitude = 0;

    bool operator==(const Location&) const = default;
};

}  // namespace platform
