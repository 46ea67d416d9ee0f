// Placeholder until the rule lists land.
#include "RuleLists.h"

#include "RuleDatabase.h"

#include <QIcon>
#include <QStandardItemModel>

RuleLists::RuleLists(RuleDatabase &db, QObject *parent)
    : QObject(parent), m_db(db), m_filter(new QStandardItemModel(0, 1, this)), m_exempted(new QStandardItemModel(0, 1, this))
{
    m_filter->setHorizontalHeaderLabels({QStringLiteral("Email Address")});
    m_exempted->setHorizontalHeaderLabels({QStringLiteral("Email Address")});
}
void RuleLists::setIconLookup(std::function<QIcon(const QString &)> lookup) { m_iconLookup = std::move(lookup); }
void RuleLists::fillFilterList() {}
void RuleLists::fillExemptedList() {}
void RuleLists::clearBoth() { m_filter->removeRows(0, m_filter->rowCount()); m_exempted->removeRows(0, m_exempted->rowCount()); }
void RuleLists::AddFilter(const QString &) {}
void RuleLists::AddExempted(const QString &) {}
void RuleLists::DeleteFilter(const QString &) {}
void RuleLists::DeleteExempted(const QString &) {}
