#include "store/FileLines.h"

FileLines::FileLines(FILE* file, std::function<void(std::int64_t)> onRead)
    : file_(file), onRead_(std::move(onRead)) {}

ImportLines FileLines::Lines() {
    ImportLines lines;
    lines.rewind = [this] {
        std::rewind(file_);
        buffer_.clear();
        at_ = 0;
        read_ = 0;
    };
    lines.next = [this](std::string& line) { return Next(line); };
    return lines;
}

bool FileLines::Next(std::string& line) {
    for (;;) {
        const size_t end = buffer_.find('\n', at_);
        if (end != std::string::npos) {
            line.assign(buffer_, at_, end - at_);
            at_ = end + 1;
            return true;
        }
        buffer_.erase(0, at_);
        at_ = 0;
        char chunk[1 << 16];
        const size_t n = std::fread(chunk, 1, sizeof chunk, file_);
        if (n == 0) {
            if (std::ferror(file_) != 0) {
                throw ImportUnreadable{};
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
