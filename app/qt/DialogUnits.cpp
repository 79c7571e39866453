#include "app/qt/DialogUnits.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QStringList>

DialogUnits::DialogUnits(const QFont& font) {
    QFontMetrics fm(font);
    const QString alphabet = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    baseX_ = (fm.horizontalAdvance(alphabet) / 26 + 1) / 2;
    baseY_ = fm.height();
}

QRect DialogUnits::Rect(int x, int y, int w, int h) const {
    return QRect(X(x), Y(y), X(w), Y(h));
}

QFont DialogFont() {
    const QStringList families = QFontDatabase::families();
    for (const char* name : {"宋体", "SimSun", "NSimSun", "WenQuanYi Micro Hei", "Noto Sans CJK SC",
                             "Droid Sans Fallback"}) {
        const QString family = QString::fromUtf8(name);
        if (families.contains(family)) {
            QFont font(family);
            font.setPointSize(9);
            return font;
        }
    }
    QFont font;
    font.setPointSize(9);
    return font;
}
