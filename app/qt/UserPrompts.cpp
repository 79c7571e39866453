#include "app/qt/UserPrompts.h"

#include <QAbstractButton>
#include <QDir>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QFileInfo>
#include <utility>

namespace {

// Icons and type names from the name alone. The default provider reads a file's first bytes
// to learn its type, and opening and closing the store that way in this process would drop
// the locks SQLite holds on it (POSIX locks belong to the process, not to the descriptor), so
// another program could checkpoint and remove the -wal and -shm files under the collector:
// "disk I/O error".
class NameOnlyIconProvider : public QFileIconProvider {
  public:
    QIcon icon(const QFileInfo& info) const override {
        return QFileIconProvider::icon(info.isDir() ? Folder : File);
    }
    QString type(const QFileInfo& info) const override {
        if (info.isDir()) {
            return QStringLiteral("文件夹");
        }
        return info.suffix().isEmpty() ? QStringLiteral("文件")
                                       : info.suffix().toUpper() + QStringLiteral(" 文件");
    }
};

}  // namespace

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
                                                   const QString& defaultSuffix,
                                                   QString* chosenFilter) {
    QFileDialog dialog(owner);
    // Qt's own dialog, with a provider that never opens the files it lists (see above).
    static NameOnlyIconProvider names;
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setIconProvider(&names);
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
    if (chosenFilter != nullptr) {
        *chosenFilter = dialog.selectedNameFilter();
    }
    return dialog.selectedFiles().first();
}
