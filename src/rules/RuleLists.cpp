#include "RuleLists.h"

#include "RuleCollation.h"
#include "MessageBox.h"
#include "RuleDatabase.h"

#include <QIcon>
#include <QStandardItemModel>

namespace {
const QString kFilterTable = QStringLiteral("tbfilter");
const QString kExemptedTable = QStringLiteral("tbexempted");
const QString kFilterIcon = QStringLiteral("filter");
const QString kExemptedIcon = QStringLiteral("exempted");
} // namespace

RuleLists::RuleLists(RuleDatabase &db, QObject *parent)
    : QObject(parent)
    , m_db(db)
    , m_filter(new QStandardItemModel(0, 1, this))
    , m_exempted(new QStandardItemModel(0, 1, this))
{
    m_filter->setObjectName(QStringLiteral("lsvFilterModel"));
    m_exempted->setObjectName(QStringLiteral("lsvExemptedModel"));
    m_filter->setHorizontalHeaderLabels({QStringLiteral("Email Address")});
    m_exempted->setHorizontalHeaderLabels({QStringLiteral("Email Address")});
}

void RuleLists::setIconLookup(std::function<QIcon(const QString &)> lookup)
{
    m_iconLookup = std::move(lookup);
}

QIcon RuleLists::icon(const QString &key) const
{
    return m_iconLookup ? m_iconLookup(key) : QIcon();
}

QStandardItem *RuleLists::makeRow(const QString &value, const QString &iconKey) const
{
    // A rule without a value (stored NULL) shows as an empty row; its text
    // is the empty value, which is what deleting it has to pass.
    auto *item = new QStandardItem(value.isNull() ? QStringLiteral("") : value);
    item->setEditable(false);
    item->setData(iconKey, IconKeyRole);
    if (m_iconLookup)
        item->setIcon(m_iconLookup(iconKey));
    if (value.isEmpty()) {
        item->setData(tr("(no address)"), Qt::ToolTipRole);
        item->setData(tr("(no address)"), Qt::AccessibleTextRole);
    }
    return item;
}

void RuleLists::clearBoth()
{
    m_filter->removeRows(0, m_filter->rowCount());
    m_exempted->removeRows(0, m_exempted->rowCount());
}

void RuleLists::fill(QStandardItemModel *model, const QString &table, const QString &iconKey)
{
    clearBoth();
    const std::optional<QStringList> values = m_db.FillRules(table);
    if (!values)
        return;
    for (const QString &value : *values)
        model->appendRow(makeRow(value, iconKey));
}

void RuleLists::fillFilterList()
{
    fill(m_filter, kFilterTable, kFilterIcon);
}

void RuleLists::fillExemptedList()
{
    fill(m_exempted, kExemptedTable, kExemptedIcon);
}

// A rule that did not reach the database must not look as if it had.
void RuleLists::reportRuleFailure(const QString &what, const QString &value, const QString &reason)
{
    MessageBox::show(QStringLiteral("The rule \"%1\" could not be %2 in the rule database \"%3\":\r\n%4")
                         .arg(value, what, m_db.databasePath(), reason),
                     QStringLiteral("Error"), MessageBox::Icon::Critical);
}

void RuleLists::add(QStandardItemModel *model, const QString &table, const QString &iconKey, const QString &value)
{
    try {
        if (m_db.IsInList(value, table))
            return;
    } catch (const RuleDatabaseError &e) {
        // Without an answer the value may well be there: add nothing.
        reportRuleFailure(QStringLiteral("saved"), value, QString::fromUtf8(e.what()));
        return;
    }
    if (m_db.InsertRule(table, value))
        model->appendRow(makeRow(value, iconKey));
    else
        reportRuleFailure(QStringLiteral("saved"), value, m_db.lastError());
}

void RuleLists::remove(QStandardItemModel *model, const QString &table, const QString &value)
{
    if (!m_db.DeleteRule(table, value)) {
        reportRuleFailure(QStringLiteral("deleted"), value, m_db.lastError());
        return;
    }
    for (int row = 0; row < model->rowCount(); ++row) {
        if (RuleCollation::sameRule(model->item(row)->text(), value)) {
            model->removeRow(row);
            return;
        }
    }
}

void RuleLists::AddFilter(const QString &sEmail)
{
    add(m_filter, kFilterTable, kFilterIcon, sEmail);
}

void RuleLists::AddExempted(const QString &sEmail)
{
    add(m_exempted, kExemptedTable, kExemptedIcon, sEmail);
}

void RuleLists::DeleteFilter(const QString &sEmail)
{
    remove(m_filter, kFilterTable, sEmail);
}

void RuleLists::DeleteExempted(const QString &sEmail)
{
    remove(m_exempted, kExemptedTable, sEmail);
}
