#pragma once
// The condition page inside the tab: the industry and region texts of a search.

#include <QWidget>
#include <string>

class IUserPrompts;
class QLineEdit;

inline constexpr int IDC_INDUSTRY = 1018;
inline constexpr int IDC_REGION = 1019;

class CConditionPage : public QWidget {
    Q_OBJECT
  public:
    CConditionPage(IUserPrompts& prompts, QWidget* parent);
    QLineEdit* Industry() const { return m_industry; }
    QLineEdit* Region() const { return m_region; }
    // industry "^" region in GBK, or empty text after telling the user that both are empty.
    std::string GetConditionText();

  private:
    IUserPrompts& m_prompts;
    QLineEdit* m_industry;
    QLineEdit* m_region;
};
