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
#include "store/ByteSink.h"
#include "store/RecordStore.h"
#include "store/XlsxWriter.h"
#include "text/GbkCodec.h"

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

std::int64_t WriteDelimited(const RowSource& rows, IByteSink& sink, ExportEncoding encoding,
                            const std::atomic<bool>* cancel) {
    if (encoding == ExportEncoding::Utf8Bom) {
        sink.Write("\xEF\xBB\xBF");
    }
    std::int64_t count = 0;
    std::string line;
    rows([&](const ExportRow& row) {
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
        sink.Write(encoding == ExportEncoding::Gbk && !text::IsAscii(line) ? text::Utf8ToGbk(line)
                                                                           : line);
        ++count;
    });
    return count;
}

std::int64_t ExportRecords(IRecordStore& store, const std::string& path, ExportFormat format,
                           ExportEncoding encoding, const std::atomic<bool>* cancel, bool unique) {
    const bool toStdout = path == "-";
    if (!toStdout) {
        for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
            if (platform::IsSameFile(path, store.Path() + suffix)) {
                throw ExportError("不能导出到数据库文件本身：“" + path + "”，请另选一个文件名。");
            }
        }
    }
    std::unique_ptr<IByteSink> sink;
    if (toStdout) {
        sink = std::make_unique<StreamSink>(stdout, "标准输出");
    } else {
        sink = std::make_unique<FileSink>(path);
    }
    const RowSource rows = [&store, unique](const std::function<void(const ExportRow&)>& visit) {
        if (unique) {
            store.ForEachUniqueMemberRow(visit);
        } else {
            store.ForEachMemberRow(visit);
        }
    };
    const std::int64_t count = format == EXPORT_FORMAT_XLSX
                                   ? WriteXlsx(rows, *sink, cancel)
                                   : WriteDelimited(rows, *sink, encoding, cancel);
    if (cancel != nullptr && cancel->load()) {
        throw ExportCancelled();
    }
    sink->Finish();
    return count;
}
