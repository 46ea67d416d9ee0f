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

    // The longest entry: an address of the greatest length mail allows.
    static constexpr int kMaxLength = 320;

    frmRuleAdd(Kind kind, RuleLists &rules, QWidget *parent = nullptr);

    Kind kind() const { return m_kind; }

private:
    void cmdAdd_Click();
    void cmdDone_Click();

    Kind m_kind;
    RuleLists &m_rules;
    QLabel *picRule;
    QLabel *lblEmailHint;
    QLabel *lblDomainHint;
    QLineEdit *txtEmail;
    QPushButton *cmdAdd;
    QPushButton *cmdDone;
};
