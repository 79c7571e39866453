#include "store/ByteSink.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/SystemError.h"
#include "store/ExportRecords.h"

namespace {

[[noreturn]] void CannotCreate(const std::string& target, int err) {
    throw ExportError("无法创建导出文件“" + target + "”：" + platform::ErrorText(err));
}

[[noreturn]] void CannotWrite(const std::string& target, int err) {
    throw ExportError("无法写入导出文件“" + target + "”：" + platform::ErrorText(err));
}

}  // namespace

FileSink::FileSink(std::string target) : target_(std::move(target)) {
    // A link is followed: the file it leads to is the one replaced.
    if (char* real = ::realpath(target_.c_str(), nullptr)) {
        struct stat lst {};
        if (::lstat(target_.c_str(), &lst) == 0 && S_ISLNK(lst.st_mode)) {
            target_ = real;
        }
        std::free(real);
    }
    struct stat st {};
    const bool exists = ::stat(target_.c_str(), &st) == 0;
    if (exists && !S_ISREG(st.st_mode)) {
        direct_ = true;
        path_ = target_;
        file_ = std::fopen(target_.c_str(), "wb");
        if (file_ == nullptr) {
            CannotCreate(target_, errno);
        }
    } else {
        path_ = target_ + ".partXXXXXX";
        const int fd = ::mkstemp(path_.data());
        if (fd < 0) {
            CannotCreate(target_, errno);
        }
        // mkstemp makes the file private; a replaced file keeps its permissions, a new one
        // gets an ordinary file's.
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(fd, exists ? (st.st_mode & 0777) : (0666 & ~mask));
        file_ = ::fdopen(fd, "wb");
        if (file_ == nullptr) {
            const int err = errno;
            ::close(fd);
            ::unlink(path_.c_str());
            CannotCreate(target_, err);
        }
    }
    std::setvbuf(file_, buffer_, _IOFBF, sizeof buffer_);
}

FileSink::~FileSink() {
    if (file_ != nullptr) {
        std::fclose(file_);
    }
    if (!finished_ && !direct_) {
        ::unlink(path_.c_str());
    }
}

void FileSink::Write(std::string_view bytes) {
    if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) {
        CannotWrite(target_, errno);
    }
}

void FileSink::Finish() {
    if (std::fflush(file_) != 0 || (::fsync(fileno(file_)) != 0 && errno != EINVAL)) {
        CannotWrite(target_, errno);
    }
    FILE* f = file_;
    file_ = nullptr;
    if (std::fclose(f) != 0) {
        CannotWrite(target_, errno);
    }
    if (!direct_ && ::rename(path_.c_str(), target_.c_str()) != 0) {
        CannotWrite(target_, errno);
    }
    finished_ = true;
}

void StreamSink::Write(std::string_view bytes) {
    if (std::fwrite(bytes.data(), 1, bytes.size(), stream_) != bytes.size()) {
        CannotWrite(name_, errno);
    }
}

void StreamSink::Finish() {
    if (std::fflush(stream_) != 0) {
        CannotWrite(name_, errno);
    }
}
