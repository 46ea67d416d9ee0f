#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;
class RuleLists;

// The add dialog of the two rule lists: the user types one rule after the
// other; each is added to the list the dialog was opened for, and the
// dialog stays open until "Done".
class frmRuleAdd : public QDialog {
    Q_OBJECT
public:
    enum class Kind { Filter, Exempted };

    // The longest entry, in characters (an address is at most 320). The
    // line edit counts UTF-16 units, so it lets in twice as many and Add
    // counts the characters.
    static constexpr int kMaxLength = 998;

    frmRuleAdd(Kind kind, RuleLists &rules, QWidget *parent = nullptr);

    Kind kind() const { return m_kind; }
    // How many rules were handed to the list while the dialog was open.
    int added() const { return m_added; }

private:
    void cmdAdd_Click();
    void cmdDone_Click();

    Kind m_kind;
    RuleLists &m_rules;
    QLabel *picRule;
    QLabel *lblEmailHint;
    QLabel *lblDomainHint;
    QLabel *lblPatternHint;
    QLabel *lblHeaderHint;
    QLineEdit *txtEmail;
    QPushButton *cmdAdd;
    QPushButton *cmdDone;
    int m_added = 0;
};
