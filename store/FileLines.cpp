#include "store/FileLines.h"

#include <algorithm>

namespace store {

FileLines::FileLines(FILE* file, std::function<void(std::int64_t)> onRead)
    : file_(file), onRead_(std::move(onRead)) {}

ImportLines FileLines::Lines() {
    ImportLines lines;
    lines.rewind = [this] {
        std::rewind(file_);
        buffer_.clear();
        head_.clear();
        overLong_ = false;
        at_ = 0;
        read_ = 0;
    };
    lines.next = [this](std::string& line) { return Next(line); };
    return lines;
}

bool FileLines::Next(std::string& line) {
    // Over the limit even after a byte-order mark is taken off.
    constexpr size_t kKept = kMaxImportRecordBytes + 4;
    for (;;) {
        const size_t end = buffer_.find('\n', at_);
        if (end != std::string::npos) {
            if (overLong_) {
                line = std::move(head_);
                overLong_ = false;
            } else {
                line.assign(buffer_, at_, std::min(end - at_, kKept));
            }
            at_ = end + 1;
            return true;
        }
        if (!overLong_ && buffer_.size() - at_ > kKept) {
            head_.assign(buffer_, at_, kKept);
            overLong_ = true;
        }
        if (overLong_) {
            buffer_.clear();
        } else {
            buffer_.erase(0, at_);
        }
        at_ = 0;
        char chunk[1 << 16];
        const size_t n = std::fread(chunk, 1, sizeof chunk, file_);
        if (n == 0) {
            if (std::ferror(file_) != 0) {
                throw ImportUnreadable{};
            }
            if (overLong_) {
                line = std::move(head_);
                overLong_ = false;
                return true;
            }
            line = std::move(buffer_);
            buffer_.clear();
            return !line.empty();
        }
        buffer_.append(chunk, n);
        read_ += static_cast<std::int64_t>(n);
        if (onRead_) {
            onRead_(read_);
        }
    }
}

}  // namespace store
