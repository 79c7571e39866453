#pragma once
// The condition page inside the tab: the industry and region texts of a search.

#include <QWidget>

class QLineEdit;

class CConditionPage : public QWidget {
    Q_OBJECT
  public:
    explicit CConditionPage(QWidget* parent);
    QLineEdit* Industry() const { return m_industry; }
    QLineEdit* Region() const { return m_region; }

  private:
    QLineEdit* m_industry = nullptr;
    QLineEdit* m_region = nullptr;
};
