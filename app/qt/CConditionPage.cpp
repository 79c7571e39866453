#include "app/qt/CConditionPage.h"

#include <QLabel>
#include <QLineEdit>

#include "app/model/Controls.h"
#include "app/qt/DialogUnits.h"

CConditionPage::CConditionPage(QWidget* parent) : QWidget(parent) {
    const DialogUnits du(font());
    for (const ControlSpec& c : kConditionControls) {
        QWidget* w = nullptr;
        if (c.kind == ControlKind::Label) {
            w = new QLabel(QString::fromUtf8(c.text), this);
        } else {
            auto* edit = new QLineEdit(this);
            edit->setObjectName(QStringLiteral("page%1").arg(c.id));
            (c.id == IDC_INDUSTRY ? m_industry : m_region) = edit;
            w = edit;
        }
        w->setGeometry(du.Rect(c.x, c.y, c.cx, c.cy));
    }
}
