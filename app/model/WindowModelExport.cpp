// Export of every stored record to a text, CSV or workbook file.

#include "app/model/WindowModel.h"
#include "platform/FileSystem.h"
#include "store/Store.h"

namespace {

// The folder part of an absolute file path.
std::string FolderOf(const std::string& path) {
    const size_t cut = path.find_last_of(platform::kPathSeparator == '/' ? "/" : "/\\");
    return cut == std::string::npos ? std::string() : path.substr(0, cut == 0 ? 1 : cut);
}

bool EndsWithNoCase(const std::string& s, const std::string& suffix) {
    if (s.size() < suffix.size()) {
        return false;
    }
    for (size_t i = 0; i < suffix.size(); ++i) {
        const char c = s[s.size() - suffix.size() + i];
        if ((c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c) != suffix[i]) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool WindowModel::CheckExportable() {
    IRecordStore* store = Store();
    if (store == nullptr) {
        return false;
    }
    try {
        if (store->HasMemberRecords()) {
            return true;
        }
    } catch (const ::StoreError& e) {
        TellStoreError(e);
        return false;
    }
    Prompt("没有任何可以导出的数据！", "提示", PromptIcon::Warning);
    return false;
}

void WindowModel::ExportRecords(ExportFormat format) {
    // 导出到Excel offers a workbook first and CSV second; the chosen name's suffix decides.
    const bool excel = format != EXPORT_FORMAT_TEXT;
    // The dialog opens in the folder of the last export, when there was one.
    std::string folder;
    if (IRecordStore* store = Store()) {
        try {
            folder = store->LoadSetting(kLastExportFolder).value_or("");
        } catch (const ::StoreError&) {
        }
    }
    const std::string name = std::string("Tarvola版本采集结果导出") + (excel ? ".xlsx" : ".txt");
    SaveRequest request;
    request.initialName = folder.empty() || platform::KindOf(folder) != platform::FileKind::Folder
                              ? name
                              : folder + platform::kPathSeparator + name;
    // Each type twice: every record, or each company once (its newest row).
    static const char kUnique[] = "每家公司一行";
    if (excel) {
        request.types = {{"Excel 工作簿", "*.xlsx"},
                         {"CSV文件", "*.csv"},
                         {std::string("Excel 工作簿，") + kUnique, "*.xlsx"},
                         {std::string("CSV文件，") + kUnique, "*.csv"},
                         {"所有文件", "*"}};
        request.defaultSuffix = "xlsx";
    } else {
        request.types = {{"文本文件", "*.txt"},
                         {std::string("文本文件，") + kUnique, "*.txt"},
                         {"所有文件", "*"}};
        request.defaultSuffix = "txt";
    }
    Show();
    BeginModal();
    const std::optional<SaveAnswer> chosen = view_.AskSave(request);
    EndModal();
    if (!chosen) {
        return;
    }
    const bool unique = chosen->type < request.types.size() &&
                        request.types[chosen->type].name.find(kUnique) != std::string::npos;
    IRecordStore* store = Store();
    if (store == nullptr) {
        return;
    }
    const std::string& path = chosen->path;
    try {
        if (excel) {
            format = EndsWithNoCase(path, ".csv") ? EXPORT_FORMAT_CSV : EXPORT_FORMAT_XLSX;
        }
        std::int64_t rows = 0;
        try {
            rows = ::ExportRecords(*store, path, format, ExportEncoding::Gbk, nullptr, unique);
        } catch (const ExportNotEncodable& e) {
            // Nothing was written: offered in UTF-8 instead, never with "?" in the names.
            if (Prompt(std::string(e.what()) + "\n\n现在改用 UTF-8 编码导出吗？", "导出",
                       PromptIcon::Question, true, PromptAnswer::Yes) != PromptAnswer::Yes) {
                SetStatus("没有导出。");
                Show();
                return;
            }
            rows = ::ExportRecords(*store, path, format, ExportEncoding::Utf8Bom, nullptr, unique);
        }
        SetStatus("已导出 " + std::to_string(rows) + " 条记录到 " + path);
        try {
            store->SaveSetting(kLastExportFolder, FolderOf(path));
        } catch (const ::StoreError&) {
        }
    } catch (const std::exception& e) {
        SetStatus("导出失败");
        Prompt(e.what(), "导出失败", PromptIcon::Critical);
    }
    Show();
}

void WindowModel::ExportText() {
    if (CheckExportable()) {
        ExportRecords(EXPORT_FORMAT_TEXT);
    }
    Show();
}

void WindowModel::ExportExcel() {
    if (CheckExportable()) {
        ExportRecords(EXPORT_FORMAT_CSV);
    }
    Show();
}
