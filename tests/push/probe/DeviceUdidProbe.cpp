// Another app on the same device: takes the app name it is given (so it has user defaults of
// its own) and the app root from RZ_APP_ROOT (so it shares the pasteboards), asks for the
// DeviceUDID identifier and prints "<error code> <identifier>".
#include <sys/prctl.h>
#include <cstdio>

#include "push/DUdUdirodDeviceUDID.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <app name>\n", argv[0]);
        return 2;
    }
    if (::prctl(PR_SET_NAME, argv[1], 0, 0, 0) != 0) {
        std::perror("prctl");
        return 1;
    }
    platform::Error error;
    const std::string identifier = DUdUdirodDeviceUDID::valueWithError(&error);
    std::printf("%ld %s\n", error.code(), identifier.c_str());
    return 0;
}
