#pragma once

#include <QObject>
#include <QString>
#include <functional>

class QStandardItem;
class QStandardItemModel;
class QIcon;
class RuleDatabase;

// The filter and exempted lists as the main window shows them: one model per
// table (one column, "Email Address"), kept in step with the table by the
// add and delete operations.
class RuleLists : public QObject {
    Q_OBJECT
public:
    // Each row keeps its icon key ("filter" or "exempted") in this role.
    static constexpr int IconKeyRole = Qt::UserRole + 1;

    explicit RuleLists(RuleDatabase &db, QObject *parent = nullptr);

    RuleDatabase &database() const { return m_db; }
    QStandardItemModel *filterModel() const { return m_filter; }
    QStandardItemModel *exemptedModel() const { return m_exempted; }

    void setIconLookup(std::function<QIcon(const QString &key)> lookup);
    // The icon of a key through the lookup; a null icon without one.
    QIcon icon(const QString &key) const;

    // Clear both lists, then fill one from its table.
    void fillFilterList();
    void fillExemptedList();
    void clearBoth();

    // Insert the value unless the table holds it (case ignored); a row is
    // appended only when the insert succeeded.
    void AddFilter(const QString &sEmail);
    void AddExempted(const QString &sEmail);
    // Delete the value from the table (every case variant), then remove the
    // first row of the list that shows it. A row without a value shows an
    // empty text; deleting the empty value deletes such rows.
    void DeleteFilter(const QString &sEmail);
    void DeleteExempted(const QString &sEmail);

private:
    void fill(QStandardItemModel *model, const QString &table, const QString &iconKey);
    void add(QStandardItemModel *model, const QString &table, const QString &iconKey, const QString &value);
    void remove(QStandardItemModel *model, const QString &table, const QString &value);
    void reportRuleFailure(const QString &what, const QString &value, const QString &reason);
    QStandardItem *makeRow(const QString &value, const QString &iconKey) const;

    RuleDatabase &m_db;
    QStandardItemModel *m_filter;
    QStandardItemModel *m_exempted;
    std::function<QIcon(const QString &)> m_iconLookup;
};
