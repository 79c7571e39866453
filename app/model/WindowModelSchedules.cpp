// The window's saved searches and schedules: 保存搜索…, 定时采集…, and what the scheduled
// refreshes did since the window was last open.

#include <algorithm>

#include "app/model/WindowModel.h"
#include "platform/MachineName.h"
#include "platform/ProgramFolders.h"
#include "store/SavedSearch.h"
#include "store/Store.h"
#include "text/Grams.h"
#include "text/Number.h"

using namespace crawl;
using namespace store;

void WindowModel::SaveSearch() {
    if (modalDepth_ > 0) {
        return;
    }
    IRecordStore* store = Store();
    if (store == nullptr) {
        Prompt("数据库不可用，无法保存搜索。", kSaveSearchCaption, PromptIcon::Warning);
        return;
    }
    if (state_.industry.empty() && state_.region.empty()) {
        Focus(IDC_INDUSTRY);
        Prompt("请至少指定一项采集条件！", kSaveSearchCaption, PromptIcon::Warning);
        return;
    }
    std::string proposed = DefaultSearchName(state_.industry, state_.region);
    for (;;) {
        BeginModal();
        const std::optional<std::string> name = view_.AskSearchName(proposed);
        EndModal();
        if (!name) {
            return;
        }
        proposed = text::TrimBlanks(*name);
        if (!store::IsSearchName(proposed)) {
            Prompt("名称应为一行文字，不以 - 开头。", kSaveSearchCaption, PromptIcon::Warning);
            continue;
        }
        std::string refusal;
        try {
            refusal = store::SaveSearch(*store, {proposed, state_.industry, state_.region});
        } catch (const StoreError& e) {
            TellStoreError(e);
            return;
        }
        if (refusal.empty()) {
            SetStatus("已保存搜索“" + proposed + "”。");
            Show();
            return;
        }
        Prompt(refusal, kSaveSearchCaption, PromptIcon::Warning);
    }
}

void WindowModel::Schedules() {
    if (modalDepth_ > 0) {
        return;
    }
    IRecordStore* store = Store();
    if (store == nullptr) {
        Prompt("数据库不可用，无法定时采集。", kScheduleCaption, PromptIcon::Warning);
        return;
    }
    ScheduleOffer offer;
    offer.last.exportFolder = settings_.Get(Setting("exportfolder").key).value_or("");
    for (;;) {
        offer.searches.clear();
        offer.schedules.clear();
        try {
            for (const SavedSearch& s : SavedSearches(*store)) {
                offer.searches.push_back(s.name);
            }
        } catch (const StoreError& e) {
            TellStoreError(e);
            return;
        }
        if (offer.searches.empty()) {
            Prompt("还没有保存的搜索：先填好行业和地区，点 保存搜索…，再来定时采集。",
                   kScheduleCaption, PromptIcon::Information);
            return;
        }
        std::string error;
        if (const auto listed = scheduler_.list(error)) {
            for (const platform::ListedSchedule& s : *listed) {
                offer.schedules.push_back({s.id, s.when, s.command});
            }
        } else {
            Prompt("无法读取已有的定时采集：" + error, kScheduleCaption, PromptIcon::Warning);
        }
        BeginModal();
        const std::optional<ScheduleChoice> choice = view_.AskSchedule(offer);
        EndModal();
        if (!choice) {
            return;
        }
        offer.last = *choice;
        if (choice->remove) {
            if (!scheduler_.remove(choice->removeId, error)) {
                Prompt(error, kScheduleCaption, PromptIcon::Warning);
            }
            continue;
        }
        AddSchedule(*choice);
    }
}

void WindowModel::AddSchedule(const ScheduleChoice& choice) {
    platform::Schedule schedule;
    if (!platform::ParseTimeOfDay(text::TrimBlanks(choice.time), schedule)) {
        Prompt("时间应为 HH:MM（00:00 到 23:59），如 08:00。", kScheduleCaption,
               PromptIcon::Warning);
        return;
    }
    if (!choice.daily) {
        if (choice.weekdays.empty()) {
            Prompt("请选择每周的哪几天。", kScheduleCaption, PromptIcon::Warning);
            return;
        }
        schedule.weekdays = choice.weekdays;
        std::sort(schedule.weekdays.begin(), schedule.weekdays.end());
    }
    const std::string folder = choice.exportNew ? text::TrimBlanks(choice.exportFolder) : "";
    if (choice.exportNew && folder.empty()) {
        Prompt("请填写导出新公司的文件夹。", kScheduleCaption, PromptIcon::Warning);
        return;
    }
    std::string refusal;
    const std::optional<std::string> location = StoreForSchedule(storePath_, refusal);
    if (!location) {
        Prompt(refusal, kScheduleCaption, PromptIcon::Warning);
        return;
    }
    // The window's own program runs it with --refresh: no window opens.
#ifdef _WIN32
    const std::string program = ModuleDirectory() + "collector.exe";
#else
    const std::string program = ModuleDirectory() + "collector";
#endif
    const RefreshCommand command =
        RefreshCommandOf(program, true, *location, folder, choice.searches);
    schedule.program = command.program;
    schedule.arguments = command.arguments;
    const platform::ScheduleAdded added = scheduler_.add(schedule);
    if (!added.ok) {
        Prompt("未能添加定时采集：" + added.error, kScheduleCaption, PromptIcon::Warning);
        return;
    }
    if (!added.crontabLine.empty()) {
        Prompt("本机没有可用的 systemd 用户实例：请用 crontab -e 添加下面这一行。\n\n" +
                   added.crontabLine,
               kScheduleCaption, PromptIcon::Information);
        return;
    }
    SetStatus("已添加定时采集 " + std::to_string(schedule.id) + "：" +
              platform::WhenText(schedule) + "。");
    Show();
}

void WindowModel::TellScheduledRuns() {
    IRecordStore* store = store_.get();  // a store that did not open was told of already
    if (store == nullptr) {
        return;
    }
    // Runs are told once: the newest one this window has seen is kept with the store's key.
    const std::string key = StoreKey(storePath_);
    const std::string seenSetting = Setting("seenrun").key;
    std::int64_t seen = -1;
    if (const auto kept = settings_.Get(seenSetting); kept && kept->rfind(key + " ", 0) == 0) {
        seen = text::LeadingLong(kept->substr(key.size() + 1));
    }
    std::vector<RunRecord> runs;
    try {
        runs = store->Runs(kRunsTold);
    } catch (const StoreError&) {
        return;  // the record of runs shows the error when it is read
    }
    scheduledRuns_.clear();
    const std::string machine = platform::MachineName();
    std::int64_t newest = 0;
    std::int64_t added = 0;
    std::int64_t kept = 0;
    std::string latest;
    std::int64_t firstOpen = 0;  // the oldest run still under way
    for (const RunRecord& run : runs) {
        if (run.ended.empty()) {
            firstOpen = run.id;  // (newest first)
        }
        newest = std::max(newest, run.id);
        if (seen < 0 || run.id <= seen || run.how != kByScheduler || run.ended.empty() ||
            (!run.host.empty() && run.host != machine)) {
            continue;
        }
        scheduledRuns_.push_back(run);
        added += run.newRows;
        kept += run.kept;
        latest = std::max(latest, run.started);
    }
    // A run still under way is told once it has ended: it is not taken as seen.
    if (firstOpen != 0) {
        newest = std::min(newest, firstOpen - 1);
    }
    settings_.Set(seenSetting, key + " " + std::to_string(newest));
    if (!scheduledRuns_.empty() && latest.size() >= 16) {
        // "上次定时采集（12-09 08:00）：新增 12 家，失败 0"
        SetStatus("上次定时采集（" + latest.substr(5, 11) + "）：新增 " + std::to_string(added) +
                  " 家，失败 " + std::to_string(kept));
    }
}
