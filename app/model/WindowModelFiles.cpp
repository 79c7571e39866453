// Export of the stored records to a text, CSV or workbook file, and import from a CSV file.

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>

#include "app/model/WindowModel.h"
#include "platform/FileIdentity.h"
#include "platform/FileSystem.h"
#include "platform/SystemError.h"
#include "store/FileLines.h"
#include "store/Store.h"
#include "store/StoreClock.h"

using namespace crawl;
using namespace store;

namespace {

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
        SetStatus("导出失败");
        return false;
    }
    try {
        if (store->HasMemberRecords()) {
            return true;
        }
    } catch (const store::StoreError& e) {
        SetStatus("导出失败");
        TellStoreError(e);
        return false;
    }
    SetStatus("没有任何可以导出的数据！");
    Prompt("没有任何可以导出的数据！", "提示", PromptIcon::Warning);
    return false;
}

std::string WindowModel::ExportFileName(const ExportChoice& choice, const std::string* filter,
                                        bool excel) const {
    const std::string today = store::StoreDate();
    std::string name;
    if (filter != nullptr && !filter->empty()) {
        name = "筛选" + *filter + "-" + today;
    } else {
        // The search and the period, each when chosen: "化工-广东-今天新增-2026-12-09".
        name = choice.ofSearch && !choice.search.empty() ? choice.search + "-" : std::string();
        switch (choice.period) {
            case ExportChoice::Period::All:
                name += name.empty() ? "全部记录-" : "";
                break;
            case ExportChoice::Period::Today:
                name += "今天新增-";
                break;
            case ExportChoice::Period::Since:
                name += choice.since + "起-";
                break;
            case ExportChoice::Period::SinceLastRun:
                name += "自上次采集以来-";
                break;
            case ExportChoice::Period::Imported:
                name += "导入的记录-";
                break;
            case ExportChoice::Period::OfRun:
                name += "该次运行新增-";
                break;
        }
        name += today;
    }
    // Characters a file name cannot hold on either system.
    for (char& c : name) {
        if (std::strchr("\\/:*?\"<>|", c) != nullptr || static_cast<unsigned char>(c) < 0x20) {
            c = '_';
        }
    }
    return name + (excel ? ".xlsx" : ".txt");
}

void WindowModel::ExportRecords(ExportFormat format, const std::string* filter) {
    // 导出到Excel offers a workbook first and CSV second; the chosen name's suffix decides.
    const bool excel = format != EXPORT_FORMAT_TEXT;
    // What to export: everything, the search of the last pre-collect, what is new.
    ExportChoice offer;
    if (!condition_.empty()) {
        const RowSelection search = SearchSelection();
        offer.search = SearchCell(*search.industry, *search.region);
    }
    offer.since = store::StoreDate();
    offer.runOffered = !scheduledRuns_.empty();
    std::optional<ExportChoice> choice = offer;  // the collected data's rows: as filtered
    if (filter == nullptr) {
        Show();
        BeginModal();
        choice = view_.AskExportChoice(offer);
        EndModal();
    }
    if (!choice) {
        SetStatus("没有导出。");
        return;
    }
    ExportOptions options;
    if (filter != nullptr) {
        options.selection.text = *filter;
    }
    options.allColumns = choice->allColumns;
    options.selection.completeOnly = choice->completeOnly;
    if (choice->ofSearch && !condition_.empty()) {
        const RowSelection search = SearchSelection();
        options.selection.industry = search.industry;
        options.selection.region = search.region;
    }
    switch (choice->period) {
        case ExportChoice::Period::All:
            break;
        case ExportChoice::Period::Today:
            options.selection.since = store::StoreDate();
            break;
        case ExportChoice::Period::Since:
            options.selection.since = choice->since;
            break;
        case ExportChoice::Period::SinceLastRun:
            options.selection.sinceLastRun = true;
            break;
        case ExportChoice::Period::Imported:
            options.selection.importedOnly = true;
            break;
        case ExportChoice::Period::OfRun:
            // (Offered only when there are such runs.)
            options.selection.ofRuns = scheduledRuns_;
            break;
    }
    // A part that holds nothing writes no file (and replaces none).
    const bool noRuns = choice->period == ExportChoice::Period::OfRun && scheduledRuns_.empty();
    try {
        if (IRecordStore* store = Store();
            noRuns || (store != nullptr && store->CountSelectedRows(options.selection) == 0)) {
            SetStatus("没有符合条件的记录，没有导出。");
            Prompt("没有符合条件的记录，没有导出。", "提示", PromptIcon::Information);
            return;
        }
    } catch (const store::StoreError& e) {
        SetStatus("导出失败");
        TellStoreError(e);
        return;
    }
    // The dialog opens in the folder of the last export, when there was one.
    const std::string folder = settings_.Get(Setting("exportfolder").key).value_or("");
    const std::string name = ExportFileName(*choice, filter, excel);
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
        SetStatus("没有导出。");
        return;
    }
    options.selection.unique = chosen->type < request.types.size() &&
                               request.types[chosen->type].name.find(kUnique) != std::string::npos;
    IRecordStore* store = Store();
    if (store == nullptr) {
        SetStatus("导出失败");
        return;
    }
    const std::string& path = chosen->path;
    try {
        if (excel) {
            format = EndsWithNoCase(path, ".csv") ? EXPORT_FORMAT_CSV : EXPORT_FORMAT_XLSX;
        }
        std::int64_t rows = 0;
        try {
            rows = store::ExportRecords(*store, path, format, options);
        } catch (const ExportNotEncodable& e) {
            // Nothing was written: offered in UTF-8 instead, never with "?" in the names.
            if (Prompt(std::string(e.what()) + "\n\n现在改用 UTF-8 编码导出吗？", "导出",
                       PromptIcon::Question, true, PromptAnswer::Yes) != PromptAnswer::Yes) {
                SetStatus("没有导出。");
                return;
            }
            options.encoding = ExportEncoding::Utf8Bom;
            rows = store::ExportRecords(*store, path, format, options);
        }
        SetStatus("已导出 " + std::to_string(rows) + " 条记录到 " + path);
        settings_.Set(Setting("exportfolder").key, platform::FolderOf(path));
    } catch (const std::exception& e) {
        SetStatus("导出失败");
        Prompt(e.what(), "导出失败", PromptIcon::Critical);
    }
}

void WindowModel::ExportText() {
    if (modalDepth_ > 0) {
        return;
    }
    if (CheckExportable()) {
        ExportRecords(EXPORT_FORMAT_TEXT);
    }
    Show();
}

void WindowModel::ExportExcel() {
    if (modalDepth_ > 0) {
        return;
    }
    if (CheckExportable()) {
        ExportRecords(EXPORT_FORMAT_CSV);
    }
    Show();
}

void WindowModel::Import() {
    if (running_ || modalDepth_ > 0) {
        return;
    }
    OpenRequest request;
    request.title = "导入";
    request.types = {{"CSV 文件", "*.csv"}, {"文本文件", "*.txt"}, {"所有文件", "*"}};
    Show();
    BeginModal();
    const std::optional<std::string> path = view_.AskOpen(request);
    EndModal();
    if (!path) {
        return;
    }
    ImportFile(*path, ImportEncoding::Detect);
    RefreshCounts();
    ShowCounts();
    Show();
}

void WindowModel::ImportFile(const std::string& path, ImportEncoding encoding) {
    IRecordStore* store = Store();
    if (store == nullptr) {
        SetStatus("导入失败");
        return;
    }
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!file) {
        SetStatus("导入失败");
        Prompt("无法打开导入文件“" + path + "”：" + platform::ErrorText(errno), "导入失败",
               PromptIcon::Critical);
        return;
    }
    std::fseek(file.get(), 0, SEEK_END);
    const double size = std::max<double>(1, static_cast<double>(std::ftell(file.get())));
    std::rewind(file.get());
    // The file is read once to learn its encoding and once more for its rows: the bar covers
    // both readings.
    struct Cancelled {};
    int pass = 0;
    std::int64_t last = 0;
    FileLines reader(file.get(), [&](std::int64_t read) {
        if (read < last) {
            ++pass;
        }
        last = read;
        const int percent = static_cast<int>(std::min(99.0, (pass * size + read) * 50 / size));
        if (!view_.Progress("正在导入 " + path + " ……", percent)) {
            throw Cancelled{};
        }
    });
    ImportReport report;
    std::string failure;
    BeginModal();  // held like a message box while the file is read
    try {
        view_.Progress("正在导入 " + path + " ……", 0);
        report = ImportCsv(reader.Lines(), *store, encoding, CheckedIn(state_, IDC_SKIP_KNOWN));
    } catch (const Cancelled&) {
        failure = "导入已取消，没有导入任何记录。";
    } catch (const ImportUnreadable&) {
        failure = "无法读取导入文件“" + path + "”，没有导入任何记录。";
    } catch (const store::StoreError& e) {
        failure = e.what();
    }
    view_.Progress(std::string(), -1);
    EndModal();
    if (!failure.empty()) {
        SetStatus("没有导入。");
        Prompt(failure, "导入", PromptIcon::Warning);
        return;
    }
    if (report.readings && encoding == ImportEncoding::Detect) {
        // Chinese that reads as both: the user, who knows where the file came from, says, with
        // one line of the file read each way before them.
        const PromptAnswer gbk =
            Prompt("文件中的中文按 GBK 和按 UTF-8 读都说得通。\n按 GBK 读：" +
                       report.readings->first + "\n按 UTF-8 读：" + report.readings->second +
                       "\n按 GBK 导入吗？（否：按 UTF-8 导入）",
                   "导入", PromptIcon::Question, true, PromptAnswer::Yes);
        ImportFile(path, gbk == PromptAnswer::Yes ? ImportEncoding::Gbk : ImportEncoding::Utf8);
        return;
    }
    if (!report.refusal.empty()) {
        SetStatus("没有导入。");
        Prompt(report.refusal + "。", "导入失败", PromptIcon::Critical);
        return;
    }
    if (!report.errors.empty()) {
        std::string text = "文件中有错误的行，没有导入任何记录：\n";
        for (size_t i = 0; i < report.errors.size() && i < 10; ++i) {
            text += "第 " + std::to_string(report.errors[i].line) + " 行：" + report.errors[i].why +
                    "\n";
        }
        const std::int64_t more =
            report.moreErrors + static_cast<std::int64_t>(report.errors.size()) -
            std::min<std::int64_t>(10, static_cast<std::int64_t>(report.errors.size()));
        if (more > 0) {
            text += "还有 " + std::to_string(more) + " 行有错误。";
        }
        SetStatus("没有导入。");
        Prompt(text, "导入失败", PromptIcon::Critical);
        return;
    }
    std::string done = "已导入 " + std::to_string(report.count.imported) + " 条记录。";
    if (report.count.skipped > 0) {
        done += "跳过数据库中已有的公司 " + std::to_string(report.count.skipped) + " 家。";
    }
    OnStoreChanged();
    SetStatus(done);
    Prompt(done, "导入", PromptIcon::Information);
}
