#include "app/UserPrompts.h"

#include <QAbstractButton>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <utility>

QMessageBox::StandardButton QtUserPrompts::Message(QWidget* owner, const QString& text,
                                                   const QString& caption, QMessageBox::Icon icon,
                                                   QMessageBox::StandardButtons buttons,
                                                   QMessageBox::StandardButton defaultButton) {
    QMessageBox box(icon, caption, text, buttons, owner);
    box.setTextFormat(Qt::PlainText);  // collected texts are never markup
    box.setDefaultButton(defaultButton);
    const std::pair<QMessageBox::StandardButton, const char*> labels[] = {
        {QMessageBox::Ok, "确定"}, {QMessageBox::Yes, "是(&Y)"}, {QMessageBox::No, "否(&N)"}};
    for (const auto& [which, label] : labels) {
        if (QAbstractButton* b = box.button(which)) {
            b->setText(QString::fromUtf8(label));
        }
    }
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

std::optional<QString> QtUserPrompts::SaveFileName(QWidget* owner, const QString& initialName,
                                                   const QString& filter,
                                                   const QString& defaultSuffix) {
    QFileDialog dialog(owner);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(filter);
    dialog.setDefaultSuffix(defaultSuffix);
    // A name with a folder opens in that folder; a bare name in the home folder.
    const QFileInfo initial(initialName);
    dialog.setDirectory(initialName.contains('/') ? initial.absolutePath() : QDir::homePath());
    dialog.selectFile(initial.fileName());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return dialog.selectedFiles().first();
}
