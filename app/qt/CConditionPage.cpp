#include "app/CConditionPage.h"

#include <QLabel>
#include <QLineEdit>

#include "app/DialogUnits.h"
#include "app/UserPrompts.h"
#include "text/GbkCodec.h"

CConditionPage::CConditionPage(IUserPrompts& prompts, QWidget* parent)
    : QWidget(parent), m_prompts(prompts) {
    DialogUnits du(font());
    auto label = [&](const char* text, QRect r) {
        auto* l = new QLabel(QString::fromUtf8(text), this);
        l->setGeometry(r);
    };
    auto edit = [&](int id, const char* text, QRect r) {
        auto* e = new QLineEdit(QString::fromUtf8(text), this);
        e->setObjectName(QStringLiteral("page%1").arg(id));
        e->setGeometry(r);
        return e;
    };
    label("行业：", du.Rect(20, 11, 25, 8));
    m_industry = edit(IDC_INDUSTRY, "化工", du.Rect(48, 9, 106, 14));
    label("地区：", du.Rect(20, 29, 25, 8));
    m_region = edit(IDC_REGION, "广州", du.Rect(48, 27, 106, 14));
}

std::string CConditionPage::GetConditionText() {
    const QString industry = m_industry->text();
    const QString region = m_region->text();
    if (industry.isEmpty() && region.isEmpty()) {
        m_industry->setFocus();
        m_prompts.Message(this, QStringLiteral("请至少指定一项采集条件！"),
                          QStringLiteral("采集条件"), QMessageBox::Warning, QMessageBox::Ok,
                          QMessageBox::Ok);
        return {};
    }
    return text::Utf8ToGbk(industry.toStdString()) + "^" + text::Utf8ToGbk(region.toStdString());
}
