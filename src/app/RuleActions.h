#pragma once

#include "RuleCommands.h"

#include <QObject>

class ListViewWidget;
class MessageLists;
class QMenu;
class QPoint;
class RuleDatabase;
class RuleLists;
class StatusPane;
class QWidget;
struct MainMenus;

// The rule commands of the context menus: rules made from the messages of
// the Inbox and the Recycle Bin, the Filter and Exempted Lists' own Add and
// Delete, the server spam marks. After a new rule the messages are sorted
// again as the fetch sorts them.
class RuleActions : public QObject {
    Q_OBJECT
public:
    // `window` owns the dialogs.
    RuleActions(RuleDatabase &database, RuleLists &rules, MessageLists &messages, ListViewWidget *filterView,
                ListViewWidget *exemptedView, const MainMenus &menus, StatusPane &status, QWidget *window);

    // After a filter rule: the Inbox rows the lists now send to the Recycle
    // Bin go there; after an exempted rule the Recycle Bin rows it keeps
    // come back. The status text says how many moved.
    // Both return how many rows moved.
    int recheckInbox();
    int recheckRecycleBin();

    static QString movedText(int count, const QString &folder);

public Q_SLOTS:
    void lsvFilter_MouseUp(const QPoint &globalPos);
    void lsvExempted_MouseUp(const QPoint &globalPos);
    void mnuAddSenderToFilter1_Click();
    void mnuAddDomainToFilter1_Click();
    void mnuExemptSenderFromFilter1_Click();
    void mnuAddSenderToFilter2_Click();
    void mnuAddDomainToFilter2_Click();
    void mnuRemoveSenderFromFilter_Click();
    void mnuRemoveDomainFromFilter_Click();
    void mnuExemptSenderFromFilter2_Click();
    void mnuFilterAdd_Click();
    void mnuExemptedAdd_Click();
    void mnuFilterDelete_Click();
    void mnuExemptedDelete_Click();
    void mnuFilterSpamMarks_Click();

private:
    void addToFilterFromInbox(RuleCommands::Value value);
    void addToFilterFromRecycleBin(RuleCommands::Value value);
    void removeFromFilter(RuleCommands::Value value);

    RuleDatabase &m_ruleDb;
    RuleLists &m_rules;
    MessageLists &m_messages;
    ListViewWidget *lsvFilter;
    ListViewWidget *lsvExempted;
    QMenu *mnuFilterList;
    QMenu *mnuExemptedList;
    StatusPane &m_status;
    QWidget *m_window;
};
