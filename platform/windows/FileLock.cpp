#include "platform/FileLock.h"

#include <windows.h>

#include "platform/windows/Wide.h"

namespace platform {

bool FileLock::TryAcquire(Mode mode) {
    Release();
    HANDLE file = CreateFileW(win::Wide(path_).c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    // A byte range lock belongs to its handle: a second handle in the same process is another
    // holder, as another process would be.
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(byte_ & 0xffffffffu);
    at.OffsetHigh = static_cast<DWORD>(byte_ >> 32);
    const DWORD flags =
        LOCKFILE_FAIL_IMMEDIATELY | (mode == Mode::Exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
    if (!LockFileEx(file, flags, 0, 1, 0, &at)) {
        CloseHandle(file);
        return false;
    }
    handle_ = file;
    held_ = true;
    return true;
}

void FileLock::Release() {
    if (held_) {
        CloseHandle(handle_);  // lets the lock go
        held_ = false;
    }
}

}  // namespace platform
