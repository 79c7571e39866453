#pragma once
// A lock on a file beside a store that processes take to say "a crawl of this store is at
// work here": every crawl holds it shared, and whoever wants to know whether any crawl is at
// work tries to take it alone. The system lets it go when the process ends, however it ends,
// so a lock never outlives its holder.

#include <string>
#include <utility>

namespace platform {

class FileLock {
  public:
    enum class Mode { Shared, Exclusive };

    explicit FileLock(std::string path) : path_(std::move(path)) {}
    ~FileLock() { Release(); }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Takes the lock without waiting; false when another holder (in this process or another)
    // keeps it in a way that excludes `mode`, or when the file cannot be made.
    bool TryAcquire(Mode mode);
    void Release();
    bool Held() const { return held_; }

  private:
#ifdef _WIN32
    using Handle = void*;
#else
    using Handle = int;
#endif
    std::string path_;
    Handle handle_{};
    bool held_ = false;
};

}  // namespace platform
