#pragma once

#include <csignal>

#include <sys/resource.h>

// While alive, files this process writes cannot grow past a size: writes
// beyond it fail with EFBIG, as writes on a full disk fail with ENOSPC, and
// a write across it is cut short. SIGXFSZ is ignored meanwhile.
class FileSizeLimit {
public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    previous_handler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved_;
    limited.rlim_cur = bytes;
    active_ = setrlimit(RLIMIT_FSIZE, &limited) == 0;
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, previous_handler_);
  }
  FileSizeLimit(const FileSizeLimit &) = delete;
  FileSizeLimit &operator=(const FileSizeLimit &) = delete;

  bool active() const { return active_; }

private:
  rlimit saved_{};
  void (*previous_handler_)(int) = SIG_DFL;
  bool active_ = false;
};
