#pragma once
// Places controls the way a dialog template does: positions in dialog units, converted with
// the dialog font's base units (x * average character width / 4, y * character height / 8).

#include <QFont>
#include <QRect>

class DialogUnits {
  public:
    explicit DialogUnits(const QFont& font);
    QRect Rect(int x, int y, int w, int h) const;
    int X(int x) const { return x * baseX_ / 4; }
    int Y(int y) const { return y * baseY_ / 8; }

  private:
    int baseX_;
    int baseY_;
};

// "宋体" 9 pt where it is installed, otherwise the CJK font the system has.
QFont DialogFont();
