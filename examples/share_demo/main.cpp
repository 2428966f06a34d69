// The host program: sets the SDK up as an app would and drives one share.
#include <cstdio>
#include <cstring>

namespace {

void printUsage() {
    std::puts(
        "usage: share_demo [--help]\n"
        "\n"
        "Runs the share SDK the way an app does. This build offers the platform layer\n"
        "(values, property lists, archives, user defaults, queues, notifications, text\n"
        "services); the share panel and the platforms come in later builds.");
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            printUsage();
            return 0;
        }
    }
    printUsage();
    return 0;
}
