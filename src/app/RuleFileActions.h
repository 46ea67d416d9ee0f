#pragma once

#include <QObject>

class ListViewWidget;
class RuleActions;
class RuleDatabase;
class RuleLists;
class StatusPane;
class QWidget;
struct MainMenus;

// The File menu's commands on many rules at once: importing and exporting
// rule files.
class RuleFileActions : public QObject {
    Q_OBJECT
public:
    // `window` owns the file dialogs.
    RuleFileActions(RuleDatabase &database, RuleLists &rules, RuleActions &ruleActions, ListViewWidget *filterView,
                    ListViewWidget *exemptedView, const MainMenus &menus, StatusPane &status, QWidget *window);

    // What the two commands do once the user chose a file; the outcome is
    // shown in a message box (import) or the status text.
    void importRulesFrom(const QString &path);
    bool exportRulesTo(const QString &path);

public Q_SLOTS:
    void mnuImportRules_Click();
    void mnuExportRules_Click();

private:
    // Shows the rule list on screen afresh after rules were added in bulk.
    void refillShownRuleList();

    RuleDatabase &m_ruleDb;
    RuleLists &m_rules;
    RuleActions &m_ruleActions;
    ListViewWidget *lsvFilter;
    ListViewWidget *lsvExempted;
    StatusPane &m_status;
    QWidget *m_window;
};
