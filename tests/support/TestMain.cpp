// Every test binary runs with its app folders under a temporary root, so that no test reads
// or writes the user's own files.
#include <gtest/gtest.h>

#include "platform/AppFolders.h"
#include "tests/support/TempDir.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    testing_support::TempDir root;
    platform::AppFolders::setRoot(root.path());
    return RUN_ALL_TESTS();
}
