#include "platform/FileLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace platform {

bool FileLock::TryAcquire(Mode mode) {
    Release();
    // flock belongs to the open file: a second open in the same process is another holder.
    const int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        return false;
    }
    if (::flock(fd, (mode == Mode::Shared ? LOCK_SH : LOCK_EX) | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    handle_ = fd;
    held_ = true;
    return true;
}

void FileLock::Release() {
    if (held_) {
        ::close(handle_);  // lets the lock go
        held_ = false;
    }
}

}  // namespace platform
