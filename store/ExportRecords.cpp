#include "store/ExportRecords.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/FileIdentity.h"
#include "platform/SystemError.h"
#include "store/RecordStore.h"
#include "text/GbkCodec.h"

namespace {

std::string WriteFailure(const std::string& path, int err) {
    return "无法写入导出文件“" + path + "”：" + platform::ErrorText(err);
}

}  // namespace

void AppendExportField(std::string& line, std::string_view value) {
    // The four special bytes are ASCII: they never occur inside a GBK or UTF-8 character.
    if (value.find_first_of(",\"\r\n") == std::string_view::npos) {
        line.append(value);
        return;
    }
    line.push_back('"');
    for (char c : value) {
        if (c == '"') {
            line.push_back('"');
        }
        line.push_back(c);
    }
    line.push_back('"');
}

namespace {

// The temporary file beside the target; removed when it goes out of scope unless kept. A
// target that exists and is no regular file (a device, a pipe) is written in place instead:
// it cannot be replaced, and must not be.
class TempFile {
  public:
    explicit TempFile(const std::string& target) : path_(target + ".partXXXXXX") {
        struct stat st {};
        if (::stat(target.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
            direct_ = true;
            path_ = target;
            file_ = std::fopen(target.c_str(), "wb");
            if (file_ == nullptr) {
                throw ExportError("无法创建导出文件“" + target + "”：" +
                                  platform::ErrorText(errno));
            }
            return;
        }
        const int fd = ::mkstemp(path_.data());
        if (fd < 0) {
            throw ExportError("无法创建导出文件“" + target + "”：" + platform::ErrorText(errno));
        }
        // mkstemp makes the file private; an export is an ordinary file of the user's.
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(fd, 0666 & ~mask);
        file_ = ::fdopen(fd, "wb");
        if (file_ == nullptr) {
            ::close(fd);
            ::unlink(path_.c_str());
            throw ExportError("无法创建导出文件“" + target + "”：" + platform::ErrorText(errno));
        }
    }
    ~TempFile() {
        if (file_ != nullptr) {
            std::fclose(file_);
        }
        if (!kept_ && !direct_) {
            ::unlink(path_.c_str());
        }
    }
    FILE* get() { return file_; }
    // Closes the file; false (errno set) when its last bytes could not be written.
    bool Close() {
        FILE* f = file_;
        file_ = nullptr;
        return std::fclose(f) == 0;
    }
    // Puts the complete file in the target's place.
    bool RenameTo(const std::string& target) {
        if (direct_) {
            return true;
        }
        if (::rename(path_.c_str(), target.c_str()) != 0) {
            return false;
        }
        kept_ = true;
        return true;
    }

  private:
    std::string path_;
    FILE* file_ = nullptr;
    bool kept_ = false;
    bool direct_ = false;
};

}  // namespace

std::int64_t ExportRecords(RecordStore& store, const std::string& path, ExportFormat /*format*/,
                           ExportEncoding encoding, const std::atomic<bool>* cancel) {
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
        if (platform::IsSameFile(path, store.Path() + suffix)) {
            throw ExportError("不能导出到数据库文件本身：“" + path + "”，请另选一个文件名。");
        }
    }
    std::vector<char> buffer(1 << 16);  // declared first: it must outlive the stream
    TempFile file(path);
    std::setvbuf(file.get(), buffer.data(), _IOFBF, buffer.size());

    auto write = [&](const std::string& bytes) {
        if (std::fwrite(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) {
            throw ExportError(WriteFailure(path, errno));
        }
    };
    if (encoding == ExportEncoding::Utf8Bom) {
        write("\xEF\xBB\xBF");
    }

    std::int64_t rows = 0;
    std::string line;
    store.ForEachMemberRow([&](const RecordStore::RawRow& row) {
        if (cancel != nullptr && cancel->load()) {
            throw ExportCancelled();
        }
        // The line is built in UTF-8 and converted once: the separators and quotes are ASCII,
        // the same byte in both encodings.
        line.clear();
        for (size_t i = 0; i < row.size(); ++i) {
            if (i > 0) {
                line.push_back(',');
            }
            AppendExportField(line, row[i]);
        }
        line.append("\r\n");
        write(encoding == ExportEncoding::Gbk && !text::IsAscii(line) ? text::Utf8ToGbk(line)
                                                                      : line);
        ++rows;
    });

    if (std::fflush(file.get()) != 0 || (::fsync(fileno(file.get())) != 0 && errno != EINVAL)) {
        throw ExportError(WriteFailure(path, errno));
    }
    if (!file.Close()) {
        throw ExportError(WriteFailure(path, errno));
    }
    if (cancel != nullptr && cancel->load()) {
        throw ExportCancelled();
    }
    if (!file.RenameTo(path)) {
        throw ExportError(WriteFailure(path, errno));
    }
    return rows;
}
