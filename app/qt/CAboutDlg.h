#pragma once

#include <QDialog>

// The About box: the icon, the program's name and version, the store in use and an OK button.
class CAboutDlg : public QDialog {
    Q_OBJECT
  public:
    CAboutDlg(QWidget* parent, const QString& storePath);
};
