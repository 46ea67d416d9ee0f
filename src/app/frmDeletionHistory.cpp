#include "frmDeletionHistory.h"

#include "DeletionHistoryModel.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QVBoxLayout>

frmDeletionHistory::frmDeletionHistory(QList<DeletionRecord> records, QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("frmDeletionHistory"));
    setWindowTitle(QStringLiteral("Deletion History"));

    m_model = new DeletionHistoryModel(std::move(records), this);
    m_proxy = new QSortFilterProxyModel(this);
    m_proxy->setSourceModel(m_model);
    m_proxy->setSortRole(DeletionHistoryModel::SortRole);
    m_proxy->setFilterCaseSensitivity(Qt::CaseInsensitive);
    m_proxy->setFilterKeyColumn(-1); // any column

    auto *searchLabel = new QLabel(QStringLiteral("&Search:"), this);
    txtSearch = new QLineEdit(this);
    txtSearch->setObjectName(QStringLiteral("txtSearch"));
    txtSearch->setClearButtonEnabled(true);
    txtSearch->setAccessibleName(QStringLiteral("Search the deletion history"));
    searchLabel->setBuddy(txtSearch);

    lsvHistory = new QTableView(this);
    lsvHistory->setObjectName(QStringLiteral("lsvHistory"));
    lsvHistory->setAccessibleName(QStringLiteral("Deleted messages"));
    lsvHistory->setModel(m_proxy);
    lsvHistory->setSortingEnabled(true);
    lsvHistory->sortByColumn(DeletionHistoryModel::Deleted, Qt::DescendingOrder);
    lsvHistory->setSelectionBehavior(QAbstractItemView::SelectRows);
    lsvHistory->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lsvHistory->setWordWrap(false);
    lsvHistory->verticalHeader()->hide();
    lsvHistory->horizontalHeader()->setStretchLastSection(true);
    lsvHistory->resizeColumnsToContents();

    lblCount = new QLabel(this);
    lblCount->setObjectName(QStringLiteral("lblCount"));

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *searchRow = new QHBoxLayout;
    searchRow->addWidget(searchLabel);
    searchRow->addWidget(txtSearch, 1);
    auto *bottom = new QHBoxLayout;
    bottom->addWidget(lblCount, 1);
    bottom->addWidget(buttons);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(searchRow);
    layout->addWidget(lsvHistory, 1);
    layout->addLayout(bottom);

    connect(txtSearch, &QLineEdit::textChanged, this, [this](const QString &text) {
        m_proxy->setFilterFixedString(text);
        updateCount();
    });
    updateCount();
    const QFontMetrics metrics(font());
    resize(metrics.averageCharWidth() * 140, metrics.height() * 30);
}

void frmDeletionHistory::updateCount()
{
    const int shown = m_proxy->rowCount();
    const int all = m_model->rowCount();
    lblCount->setText(shown == all ? QStringLiteral("%1 deleted messages").arg(all)
                                   : QStringLiteral("%1 of %2 deleted messages").arg(shown).arg(all));
}
