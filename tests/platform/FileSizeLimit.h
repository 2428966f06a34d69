// Makes every write past a few bytes fail, for as long as the object lives. Permission bits do
// not stop the root user that runs CI, but the file-size limit does, so this is how the tests
// make a write fail half-way on any machine.
#pragma once

#include <sys/resource.h>
#include <csignal>
#include <stdexcept>

namespace testing_support {

class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);  // the write fails with EFBIG instead
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) {
            throw std::runtime_error("cannot lower the file-size limit");
        }
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previousHandler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

  private:
    rlimit saved_{};
    void (*previousHandler_)(int) = nullptr;
};

}  // namespace testing_support
