#pragma once

#include <QObject>
#include <QString>
#include <functional>

class QStandardItemModel;
class QIcon;
class RuleDatabase;

// The filter and exempted lists as the main window shows them: one model per
// table (one column, "Email Address"), kept in step with the table by the
// add and delete operations.
class RuleLists : public QObject {
    Q_OBJECT
public:
    explicit RuleLists(RuleDatabase &db, QObject *parent = nullptr);

    RuleDatabase &database() const { return m_db; }
    QStandardItemModel *filterModel() const { return m_filter; }
    QStandardItemModel *exemptedModel() const { return m_exempted; }

    void setIconLookup(std::function<QIcon(const QString &key)> lookup);

    // Clear both lists, then fill one from its table.
    void fillFilterList();
    void fillExemptedList();
    void clearBoth();

    void AddFilter(const QString &sEmail);
    void AddExempted(const QString &sEmail);
    void DeleteFilter(const QString &sEmail);
    void DeleteExempted(const QString &sEmail);

private:
    RuleDatabase &m_db;
    QStandardItemModel *m_filter;
    QStandardItemModel *m_exempted;
    std::function<QIcon(const QString &)> m_iconLookup;
};
