#include "app/qt/CAboutDlg.h"

#include <QLabel>
#include <QPushButton>

#include "app/model/Dialogs.h"
#include "app/qt/CollectorIcon.h"
#include "app/qt/DialogUnits.h"

CAboutDlg::CAboutDlg(QWidget* parent, const QString& storePath) : QDialog(parent) {
    setWindowTitle(QString::fromUtf8(kAboutTitle));
    setFont(DialogFont());
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    DialogUnits du(font());
    setFixedSize(du.X(kAboutWidth), du.Y(kAboutHeight));
    auto* icon = new QLabel(this);
    icon->setPixmap(CollectorIcon().pixmap(32, 32));
    icon->setGeometry(du.X(11), du.Y(17), 32, 32);
    auto* name = new QLabel(QString::fromUtf8(kAboutControls[1].text), this);
    name->setGeometry(du.Rect(40, 10, 119, 8));
    // Where the records are kept.
    auto* store = new QLabel(QString::fromUtf8(kAboutStore) + storePath, this);
    store->setObjectName(QStringLiteral("storePath"));
    store->setGeometry(du.Rect(40, 24, 188, 32));
    store->setWordWrap(true);
    store->setTextInteractionFlags(Qt::TextSelectableByMouse);
    store->setToolTip(storePath);
    const ControlSpec& ruleSpec = kAboutControls[4];
    auto* rule = new QLabel(QString::fromUtf8(ruleSpec.text), this);
    rule->setGeometry(du.Rect(ruleSpec.x, ruleSpec.y, ruleSpec.cx, ruleSpec.cy));
    rule->setWordWrap(true);
    auto* ok = new QPushButton(QString::fromUtf8(kAboutControls[3].text), this);
    ok->setGeometry(du.Rect(178, 7, 50, 14));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}
