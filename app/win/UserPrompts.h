#pragma once
// The window's questions on Windows: message boxes, Windows' own file dialogs and the smaller
// dialogs (the failures list, the export choice, the About box), each owned by `owner`.

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/model/HotKey.h"
#include "app/model/Prompts.h"

PromptAnswer AskMessage(HWND owner, const Question& question);
std::optional<SaveAnswer> ChooseSaveFile(HWND owner, const SaveRequest& request);
std::optional<std::string> ChooseOpenFile(HWND owner, const OpenRequest& request);
std::optional<std::vector<std::int64_t>> ChooseFailures(HWND owner,
                                                        const std::vector<FailureRow>& rows);
std::optional<ExportChoice> ChooseExport(HWND owner, const ExportChoice& offer);
// The hot key's choice, `current` preset.
std::optional<HotKeySpec> ChooseHotKey(HWND owner, const HotKeySpec& current);
// 保存搜索…'s name, `proposed` preset.
std::optional<std::string> AskSearchName(HWND owner, const std::string& proposed);
// 定时采集…: a schedule to add or remove.
std::optional<ScheduleChoice> ChooseSchedule(HWND owner, const ScheduleOffer& offer);
void ShowAboutBox(HWND owner, const std::string& storeName);
