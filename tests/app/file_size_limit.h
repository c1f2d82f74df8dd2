// Makes writing files fail beyond a size, as a full disk would, for this process and the
// programs it starts meanwhile.
#pragma once

#include <sys/resource.h>

#include <csignal>
#include <stdexcept>

namespace testing_support {

class FileSizeLimit {
 public:
  // Writes past `bytes` fail with EFBIG instead of raising SIGXFSZ (an ignored signal stays
  // ignored across exec, so started programs see the same).
  explicit FileSizeLimit(rlim_t bytes) {
    if (getrlimit(RLIMIT_FSIZE, &m_old) != 0) throw std::runtime_error("getrlimit failed");
    const rlimit limit{bytes, m_old.rlim_max};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) throw std::runtime_error("setrlimit failed");
    m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &m_old);
    std::signal(SIGXFSZ, m_oldHandler);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit m_old{};
  void (*m_oldHandler)(int) = nullptr;
};

}  // namespace testing_support
