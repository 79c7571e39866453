#pragma once
// Message boxes and file dialogs go through this interface, so tests can answer them.

#include <QMessageBox>
#include <QString>
#include <optional>

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
};
