#include "store/ByteSink.h"

#include <cerrno>

#include "platform/FileSystem.h"
#include "platform/SystemError.h"
#include "store/ExportRecords.h"

namespace store {

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
    target_ = platform::FollowLink(target_);
    const platform::FileKind kind = platform::KindOf(target_);
    if (kind != platform::FileKind::Missing && kind != platform::FileKind::Regular) {
        direct_ = true;
        path_ = target_;
        file_ = std::fopen(target_.c_str(), "wb");
        if (file_ == nullptr) {
            CannotCreate(target_, errno);
        }
    } else {
        file_ = platform::CreateUniqueFile(target_ + ".part", target_, path_);
        if (file_ == nullptr) {
            CannotCreate(target_, errno);
        }
    }
    std::setvbuf(file_, buffer_, _IOFBF, sizeof buffer_);
}

FileSink::~FileSink() {
    if (file_ != nullptr) {
        std::fclose(file_);
    }
    if (!finished_ && !direct_) {
        platform::RemoveFile(path_);
    }
}

void FileSink::Write(std::string_view bytes) {
    if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) {
        CannotWrite(target_, errno);
    }
}

void FileSink::Finish() {
    if (std::fflush(file_) != 0 || !platform::SyncFile(file_)) {
        CannotWrite(target_, errno);
    }
    FILE* f = file_;
    file_ = nullptr;
    if (std::fclose(f) != 0) {
        CannotWrite(target_, errno);
    }
    if (!direct_ && !platform::MoveIntoPlace(path_, target_)) {
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

}  // namespace store
