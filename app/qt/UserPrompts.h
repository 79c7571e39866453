#pragma once
// Message boxes and file dialogs go through this interface, so tests can answer them.

#include <QMessageBox>
#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

#include "app/model/HotKey.h"
#include "app/model/Prompts.h"

class QWidget;

class IUserPrompts {
  public:
    virtual ~IUserPrompts() = default;
    // Shows a message box (plain text only) and returns the button pressed.
    virtual QMessageBox::StandardButton Message(QWidget* owner, const QString& text,
                                                const QString& caption, QMessageBox::Icon icon,
                                                QMessageBox::StandardButtons buttons,
                                                QMessageBox::StandardButton defaultButton) = 0;
    // Asks for a file to write; the suffix is added to a name typed without one, and an
    // existing file is only chosen after the user agreed to replace it. An initial name with
    // a folder opens the dialog in that folder.
    // `chosenFilter`, when given, receives the file type the user picked.
    virtual std::optional<QString> SaveFileName(QWidget* owner, const QString& initialName,
                                                const QString& filter, const QString& defaultSuffix,
                                                QString* chosenFilter = nullptr) = 0;
    // Asks for a file to read.
    virtual std::optional<QString> OpenFileName(QWidget* owner, const QString& title,
                                                const QString& filter) = 0;
    // The kept failures' list: nothing when closed, the ids to retry (none: all).
    virtual std::optional<std::vector<std::int64_t>> Failures(
        QWidget* owner, const std::vector<FailureRow>& rows) = 0;
    // What to export, `offer` preset.
    virtual std::optional<ExportChoice> ChooseExport(QWidget* owner, const ExportChoice& offer) = 0;
    // The hot key's choice, `current` preset.
    virtual std::optional<HotKeySpec> ChooseHotKey(QWidget* owner, const HotKeySpec& current) = 0;
    // 保存搜索…'s name, `proposed` preset.
    virtual std::optional<std::string> SearchName(QWidget* owner, const std::string& proposed) = 0;
    // 定时采集…: a schedule to add or remove.
    virtual std::optional<ScheduleChoice> ChooseSchedule(QWidget* owner,
                                                         const ScheduleOffer& offer) = 0;
};

// The real dialogs.
class QtUserPrompts : public IUserPrompts {
  public:
    QMessageBox::StandardButton Message(QWidget* owner, const QString& text, const QString& caption,
                                        QMessageBox::Icon icon,
                                        QMessageBox::StandardButtons buttons,
                                        QMessageBox::StandardButton defaultButton) override;
    std::optional<QString> SaveFileName(QWidget* owner, const QString& initialName,
                                        const QString& filter, const QString& defaultSuffix,
                                        QString* chosenFilter = nullptr) override;
    std::optional<QString> OpenFileName(QWidget* owner, const QString& title,
                                        const QString& filter) override;
    std::optional<std::vector<std::int64_t>> Failures(QWidget* owner,
                                                      const std::vector<FailureRow>& rows) override;
    std::optional<ExportChoice> ChooseExport(QWidget* owner, const ExportChoice& offer) override;
    std::optional<HotKeySpec> ChooseHotKey(QWidget* owner, const HotKeySpec& current) override;
    std::optional<std::string> SearchName(QWidget* owner, const std::string& proposed) override;
    std::optional<ScheduleChoice> ChooseSchedule(QWidget* owner,
                                                 const ScheduleOffer& offer) override;
};
