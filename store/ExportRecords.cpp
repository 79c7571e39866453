#include "store/ExportRecords.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "platform/FileIdentity.h"
#include "platform/FileSystem.h"
#include "platform/SystemError.h"
#include "store/ByteSink.h"
#include "store/RecordStore.h"
#include "store/XlsxWriter.h"
#include "text/GbkCodec.h"

namespace store {

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

// Collects the rows a GBK export cannot hold, and says so.
class Unencodable {
  public:
    void Note(std::int64_t row, std::string_view title) {
        if (++count_ <= kNamed) {
            named_ += (named_.empty() ? "" : "、") + std::string("第 ") + std::to_string(row) +
                      " 条（" + std::string(title.substr(0, 60)) + "）";
        }
    }
    void ThrowIfAny() const {
        if (count_ == 0) {
            return;
        }
        throw ExportNotEncodable("有 " + std::to_string(count_) +
                                 " 条记录含有 GBK 编码无法表示的字符，没有导出：" + named_ +
                                 (count_ > kNamed ? " 等" : "") +
                                 "。请改用 UTF-8 编码导出（--encoding utf-8）。");
    }

  private:
    static constexpr std::int64_t kNamed = 5;
    std::int64_t count_ = 0;
    std::string named_;
};

// The line of a row, UTF-8: the separators and quotes are ASCII, the same byte in both
// encodings, so it is built once and converted once.
void BuildLine(const ExportRow& row, std::string& line) {
    line.clear();
    for (size_t i = 0; i < row.size(); ++i) {
        if (i > 0) {
            line.push_back(',');
        }
        AppendExportField(line, row[i]);
    }
    line.append("\r\n");
}

}  // namespace

void CheckGbkExport(const RowSource& rows, const std::atomic<bool>* cancel) {
    Unencodable lost;
    std::int64_t count = 0;
    std::string line;
    rows([&](const ExportRow& row) {
        if (cancel != nullptr && cancel->load()) {
            throw ExportCancelled();
        }
        ++count;
        BuildLine(row, line);
        if (!text::Utf8ToGbkExact(line)) {
            lost.Note(count, row[0]);
        }
    });
    lost.ThrowIfAny();
}

std::int64_t WriteDelimited(const RowSource& rows, IByteSink& sink, ExportEncoding encoding,
                            const std::atomic<bool>* cancel) {
    if (encoding == ExportEncoding::Utf8Bom) {
        sink.Write("\xEF\xBB\xBF");
    }
    std::int64_t count = 0;
    std::string line;
    Unencodable lost;
    rows([&](const ExportRow& row) {
        if (cancel != nullptr && cancel->load()) {
            throw ExportCancelled();
        }
        BuildLine(row, line);
        ++count;
        if (encoding == ExportEncoding::Utf8Bom || text::IsAscii(line)) {
            sink.Write(line);
        } else if (std::optional<std::string> gbk = text::Utf8ToGbkExact(line)) {
            sink.Write(*gbk);
        } else {
            lost.Note(count, row[0]);
        }
    });
    lost.ThrowIfAny();
    return count;
}

std::string SearchCell(std::string_view industry, std::string_view region) {
    if (industry.empty() && region.empty()) {
        return {};
    }
    return std::string(industry) + "-" + std::string(region);
}

std::int64_t ExportRecords(IRecordStore& store, const std::string& path, ExportFormat format,
                           ExportEncoding encoding, const std::atomic<bool>* cancel, bool unique) {
    ExportOptions options;
    options.encoding = encoding;
    options.cancel = cancel;
    options.selection.unique = unique;
    return ExportRecords(store, path, format, options);
}

std::int64_t ExportRecords(IRecordStore& store, const std::string& path, ExportFormat format,
                           const ExportOptions& options) {
    const std::atomic<bool>* cancel = options.cancel;
    const ExportEncoding encoding = options.encoding;
    const bool toStdout = path == "-";
    if (!toStdout) {
        for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
            if (platform::IsSameFile(path, store.Path() + suffix)) {
                throw ExportError("不能导出到数据库文件本身：“" + path + "”，请另选一个文件名。");
            }
        }
    }
    const RowSource rows = [&store, &options](const std::function<void(const ExportRow&)>& visit) {
        ExportRow out;
        out.count = options.allColumns ? ExportRow::kAllColumns : ExportRow::kNineColumns;
        std::string search;
        store.ForEachSelectedRow(options.selection,
                                 [&](const IRecordStore::RawRow& row, const RowOrigin& origin) {
                                     for (size_t i = 0; i < row.size(); ++i) {
                                         out[i] = row[i];
                                     }
                                     if (options.allColumns) {
                                         search = SearchCell(origin.industry, origin.region);
                                         out[ExportRow::kNineColumns] = origin.collected;
                                         out[ExportRow::kNineColumns + 1] = search;
                                     }
                                     visit(out);
                                 });
    };
    const platform::FileKind kind = toStdout ? platform::FileKind::Other : platform::KindOf(path);
    const bool inPlace = kind != platform::FileKind::Missing && kind != platform::FileKind::Regular;
    std::unique_ptr<IByteSink> sink;
    std::int64_t count = 0;
    // The rows checked are the rows written: a row stored between the two cannot slip out.
    store.InOneSnapshot([&] {
        if (inPlace && format != EXPORT_FORMAT_XLSX && encoding == ExportEncoding::Gbk) {
            // Standard output, a pipe or a device is written as it goes, and what went out
            // cannot be taken back: the rows are looked at before the first byte.
            CheckGbkExport(rows, cancel);
        }
        if (toStdout) {
            sink = std::make_unique<StreamSink>(stdout, "标准输出");
        } else {
            sink = std::make_unique<FileSink>(path);
        }
        const size_t columns =
            options.allColumns ? ExportRow::kAllColumns : ExportRow::kNineColumns;
        count = format == EXPORT_FORMAT_XLSX
                    ? WriteXlsx(rows, *sink, cancel, kXlsxRowsPerSheet, columns)
                    : WriteDelimited(rows, *sink, encoding, cancel);
    });
    if (cancel != nullptr && cancel->load()) {
        throw ExportCancelled();
    }
    sink->Finish();
    return count;
}

}  // namespace store
