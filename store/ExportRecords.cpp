#include "store/ExportRecords.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "store/RecordStore.h"
#include "text/GbkCodec.h"

namespace {

struct FileCloser {
    void operator()(FILE* f) const {
        if (f != nullptr) {
            std::fclose(f);
        }
    }
};

std::string WriteFailure(const std::string& path, int err) {
    return "无法写入导出文件“" + path + "”：" + std::strerror(err);
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

std::int64_t ExportRecords(RecordStore& store, const std::string& path, ExportFormat /*format*/,
                           ExportEncoding encoding) {
    std::vector<char> buffer(1 << 16);  // declared first: it must outlive the stream
    std::unique_ptr<FILE, FileCloser> file(std::fopen(path.c_str(), "wb"));
    if (!file) {
        throw ExportError("无法创建导出文件“" + path + "”：" + std::strerror(errno));
    }
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

    if (std::fflush(file.get()) != 0) {
        throw ExportError(WriteFailure(path, errno));
    }
    FILE* raw = file.release();
    if (std::fclose(raw) != 0) {
        throw ExportError(WriteFailure(path, errno));
    }
    return rows;
}
