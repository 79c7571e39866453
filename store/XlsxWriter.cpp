#include "store/XlsxWriter.h"

#include <xlsxwriter.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "platform/FileSystem.h"
#include "platform/SystemError.h"
#include "store/ExportRecords.h"

namespace store {

namespace {

constexpr int kMaxColumnWidth = 80;

void Check(lxw_error err, const char* what) {
    if (err != LXW_NO_ERROR) {
        throw ExportError(std::string("无法写入 Excel 工作簿（") + what + "）：" +
                          lxw_strerror(err));
    }
}

// Length of the UTF-8 sequence a lead byte starts (1 for a stray byte).
size_t SequenceLength(unsigned char c) {
    return c < 0xC0 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
}

unsigned CodePoint(std::string_view s, size_t i, size_t n) {
    const auto b = [&](size_t k) { return static_cast<unsigned char>(s[i + k]); };
    switch (n) {
        case 2:
            return ((b(0) & 0x1Fu) << 6) | (b(1) & 0x3Fu);
        case 3:
            return ((b(0) & 0x0Fu) << 12) | ((b(1) & 0x3Fu) << 6) | (b(2) & 0x3Fu);
        case 4:
            return ((b(0) & 0x07u) << 18) | ((b(1) & 0x3Fu) << 12) | ((b(2) & 0x3Fu) << 6) |
                   (b(3) & 0x3Fu);
        default:
            return b(0);
    }
}

bool Wide(unsigned cp) {
    return (cp >= 0x1100 && cp <= 0x115F) || (cp >= 0x2E80 && cp <= 0xA4CF) ||
           (cp >= 0xAC00 && cp <= 0xD7A3) || (cp >= 0xF900 && cp <= 0xFAFF) ||
           (cp >= 0xFE30 && cp <= 0xFE4F) || (cp >= 0xFF00 && cp <= 0xFF60) ||
           (cp >= 0xFFE0 && cp <= 0xFFE6) || cp >= 0x20000;
}

// The workbook's own file while it is written; removed when it goes.
struct TempWorkbook {
    std::string path;
    TempWorkbook() {
        FILE* file = platform::CreateUniqueFile(
            platform::TempFolder() + platform::kPathSeparator + "collector-xlsx-", "", path);
        if (file == nullptr) {
            throw ExportError("无法创建临时文件：" + platform::ErrorText(errno));
        }
        std::fclose(file);
    }
    ~TempWorkbook() { platform::RemoveFile(path); }
};

struct WorkbookCloser {
    void operator()(lxw_workbook* wb) const { workbook_close(wb); }
};

}  // namespace

std::string XlsxCellText(std::string_view utf8) {
    std::string out;
    out.reserve(std::min(utf8.size(), kXlsxMaxCellChars * 3));
    size_t units = 0;  // Excel counts UTF-16 units
    for (size_t i = 0; i < utf8.size();) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        size_t n = SequenceLength(c);
        if (n == 1 && c < 0x20 && c != '\t' && c != '\n' && c != '\r') {
            ++i;  // a control character Excel would refuse
            continue;
        }
        bool valid = (n == 1 && c < 0x80) || (n > 1 && i + n <= utf8.size());
        for (size_t k = 1; valid && k < n; ++k) {
            valid = (static_cast<unsigned char>(utf8[i + k]) & 0xC0) == 0x80;
        }
        if (!valid) {
            // A broken sequence (a store edited by another tool) would make Excel repair the file.
            if (units + 1 > kXlsxMaxCellChars) {
                break;
            }
            out.append("\xEF\xBF\xBD");
            ++units;
            ++i;
            continue;
        }
        const unsigned cp = CodePoint(utf8, i, n);
        if ((cp >= 0xD800 && cp <= 0xDFFF) || (cp >= 0xFDD0 && cp <= 0xFDEF) ||
            (cp & 0xFFFEu) == 0xFFFEu) {
            i += n;  // a lone surrogate or a noncharacter: not allowed in XML, dropped
            continue;
        }
        const size_t cost = n == 4 ? 2 : 1;
        if (units + cost > kXlsxMaxCellChars) {
            break;
        }
        out.append(utf8.substr(i, n));
        units += cost;
        i += n;
    }
    return out;
}

int DisplayWidth(std::string_view utf8) {
    int width = 0;
    for (size_t i = 0; i < utf8.size();) {
        const size_t n =
            std::min(SequenceLength(static_cast<unsigned char>(utf8[i])), utf8.size() - i);
        width += Wide(CodePoint(utf8, i, n)) ? 2 : 1;
        i += n;
    }
    return width;
}

std::int64_t WriteXlsx(const RowSource& rows, IByteSink& sink, const std::atomic<bool>* cancel,
                       std::int64_t rowsPerSheet, size_t columns) {
    const int width = static_cast<int>(std::min(columns, ExportRow::kAllColumns));
    TempWorkbook temp;
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    // The workbook's own temporary files go where the system keeps them (on Windows not the
    // root of the disk, which an ordinary user cannot write).
    std::string tempFolder = platform::TempFolder();
    options.tmpdir = tempFolder.data();
    std::unique_ptr<lxw_workbook, WorkbookCloser> book(
        workbook_new_opt(temp.path.c_str(), &options));
    if (!book) {
        throw ExportError("无法创建 Excel 工作簿");
    }
    lxw_format* text = workbook_add_format(book.get());
    format_set_num_format(text, "@");
    lxw_format* head = workbook_add_format(book.get());
    format_set_num_format(head, "@");
    format_set_bold(head);

    lxw_worksheet* sheet = nullptr;
    int sheets = 0;
    std::int64_t inSheet = 0;
    std::array<int, ExportRow::kAllColumns> widths{};
    // A sheet is finished when the next begins and at the end: widths, filter, frozen header.
    auto finishSheet = [&] {
        for (int c = 0; c < width; ++c) {
            Check(worksheet_set_column(sheet, static_cast<lxw_col_t>(c), static_cast<lxw_col_t>(c),
                                       std::min(widths[c], kMaxColumnWidth) + 2, text),
                  "set_column");
        }
        Check(worksheet_autofilter(sheet, 0, 0, static_cast<lxw_row_t>(inSheet),
                                   static_cast<lxw_col_t>(width - 1)),
              "autofilter");
        worksheet_freeze_panes(sheet, 1, 0);
    };
    auto beginSheet = [&] {
        ++sheets;
        const std::string name = sheets == 1 ? "数据" : "数据" + std::to_string(sheets);
        sheet = workbook_add_worksheet(book.get(), name.c_str());
        if (sheet == nullptr) {
            throw ExportError("无法创建工作表 " + name);
        }
        inSheet = 0;
        for (int c = 0; c < width; ++c) {
            widths[c] = DisplayWidth(kExportHeaders[c]);
            Check(worksheet_write_string(sheet, 0, static_cast<lxw_col_t>(c), kExportHeaders[c],
                                         head),
                  "header");
        }
    };

    beginSheet();
    std::int64_t total = 0;
    std::string cell;
    rows([&](const ExportRow& row) {
        if (cancel != nullptr && cancel->load()) {
            throw ExportCancelled();
        }
        if (inSheet == rowsPerSheet) {
            finishSheet();
            beginSheet();
        }
        ++inSheet;
        for (int c = 0; c < width && c < static_cast<int>(row.size()); ++c) {
            if (row[c].empty()) {
                continue;
            }
            cell = XlsxCellText(row[c]);
            widths[c] = std::max(widths[c], DisplayWidth(cell));
            Check(worksheet_write_string(sheet, static_cast<lxw_row_t>(inSheet),
                                         static_cast<lxw_col_t>(c), cell.c_str(), text),
                  "write");
        }
        ++total;
    });
    finishSheet();
    Check(workbook_close(book.release()), "close");

    std::unique_ptr<FILE, int (*)(FILE*)> in(std::fopen(temp.path.c_str(), "rb"), &std::fclose);
    if (!in) {
        throw ExportError("无法读取 Excel 工作簿：" + platform::ErrorText(errno));
    }
    // Read through the handle: nothing is left if the copy dies. (Windows keeps an open file;
    // the workbook's destructor removes it there.)
    platform::RemoveFile(temp.path);
    std::string chunk(1 << 16, '\0');
    for (;;) {
        const size_t n = std::fread(chunk.data(), 1, chunk.size(), in.get());
        if (n == 0) {
            break;
        }
        sink.Write(std::string_view(chunk.data(), n));
    }
    if (std::ferror(in.get())) {
        throw ExportError("无法读取 Excel 工作簿：" + platform::ErrorText(errno));
    }
    return total;
}

}  // namespace store
