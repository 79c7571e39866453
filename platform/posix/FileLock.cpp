#include "platform/FileLock.h"

#include <fcntl.h>
#include <unistd.h>

namespace platform {

bool FileLock::TryAcquire(Mode mode) {
    Release();
    // An open file description's lock (not the process's, which closing any other descriptor
    // of the file would drop): a second open in the same process is another holder.
    // Readable and writable by whoever may write the store beside it (the umask decides).
    const int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        return false;
    }
    struct flock range = {};
    range.l_type = mode == Mode::Shared ? F_RDLCK : F_WRLCK;
    range.l_whence = SEEK_SET;
    range.l_start = static_cast<off_t>(byte_);
    range.l_len = 1;
    if (::fcntl(fd, F_OFD_SETLK, &range) != 0) {
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
