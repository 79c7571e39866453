#pragma once
// A lock on one byte of a file, which a process holds to say "this is at work": a crawl of a
// store holds the byte of its run in a file beside the store, and whoever wants to know whether
// that run is still at work tries to take it. The system lets it go when the process ends,
// however it ends, so a lock never outlives its holder. Each lock is its own holder, even
// beside another of the same process.

#include <string>
#include <utility>

namespace platform {

class FileLock {
  public:
    enum class Mode { Shared, Exclusive };

    FileLock(std::string path, unsigned long long byte) : path_(std::move(path)), byte_(byte) {}
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
    unsigned long long byte_ = 0;
    Handle handle_{};
    bool held_ = false;
};

}  // namespace platform
