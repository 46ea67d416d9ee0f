#include "frmDeletionHistory.h"

#include "DeletionHistoryModel.h"

#include <QDialogButtonBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

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
    lsvHistory->setTextElideMode(Qt::ElideRight);
    lsvHistory->verticalHeader()->hide();
    // Tab leaves the table for Close, as in every other list of the program.
    lsvHistory->setTabKeyNavigation(false);
    lsvHistory->horizontalHeader()->setStretchLastSection(false);
    for (int c = 0; c < DeletionHistoryModel::ColumnCount; ++c)
        m_wanted.append(wantedWidth(c));
    lsvHistory->viewport()->installEventFilter(this);
    connect(lsvHistory->horizontalHeader(), &QHeaderView::sectionResized, this, [this] {
        if (!m_fitting)
            m_userSized = true;
    });

    lblCount = new QLabel(this);
    lblCount->setObjectName(QStringLiteral("lblCount"));

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->button(QDialogButtonBox::Close)->setObjectName(QStringLiteral("cmdClose"));
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

    // Wide enough for every column as it wants to be, within the screen.
    int columns = 0;
    for (int width : m_wanted)
        columns += width;
    const QFontMetrics metrics(font());
    const int chrome = 2 * lsvHistory->frameWidth() + style()->pixelMetric(QStyle::PM_ScrollBarExtent)
        + layout->contentsMargins().left() + layout->contentsMargins().right() + 4;
    QSize size(columns + chrome, metrics.height() * 32);
    if (const QScreen *s = screen()) {
        const QSize room = s->availableGeometry().size() * 0.9;
        size = size.boundedTo(room);
    }
    resize(size);
    fitColumns();
}

int frmDeletionHistory::wantedWidth(int column) const
{
    const QFontMetrics rows(lsvHistory->font());
    const QFontMetrics titles(lsvHistory->horizontalHeader()->font());
    const int pad = 2 * rows.averageCharWidth() + 2 * style()->pixelMetric(QStyle::PM_FocusFrameHMargin) + 4;
    int want = titles.horizontalAdvance(m_model->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString())
        + 2 * style()->pixelMetric(QStyle::PM_HeaderMargin) + style()->pixelMetric(QStyle::PM_HeaderMarkSize) + 8;
    // The newest rows are enough to judge by; the longest text is in the tooltip.
    const int sampled = std::min(m_model->rowCount(), 500);
    for (int r = 0; r < sampled; ++r)
        want = std::max(want, rows.horizontalAdvance(m_model->index(r, column).data().toString()) + pad);
    // The long texts get a share in average characters; times and sizes are
    // short and always whole.
    static constexpr int kMostChars[DeletionHistoryModel::ColumnCount] = {0, 20, 36, 60, 0, 0, 60, 32};
    const int most = kMostChars[column];
    return most > 0 ? std::min(want, most * rows.averageCharWidth() + pad) : want;
}

bool frmDeletionHistory::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == lsvHistory->viewport() && event->type() == QEvent::Resize)
        fitColumns();
    return QDialog::eventFilter(watched, event);
}

void frmDeletionHistory::fitColumns()
{
    if (m_userSized || m_wanted.isEmpty())
        return;
    const int room = lsvHistory->viewport()->width();
    QList<int> widths = m_wanted;
    int total = 0;
    for (int width : widths)
        total += width;
    // Short of room: the long texts give way, down to a few words each,
    // sender and subject first (in step), then rule, id and profile; they are
    // elided, and whole in their tooltips.
    const int least = 12 * lsvHistory->fontMetrics().averageCharWidth();
    using M = DeletionHistoryModel;
    for (const QList<int> &group : {QList<int>{M::Subject, M::Sender}, QList<int>{M::Rule, M::UniqueId, M::Profile}}) {
        int spare = 0;
        for (int c : group)
            spare += std::max(0, widths[c] - least);
        const int need = total - room;
        if (need <= 0 || spare == 0)
            continue;
        const double share = std::min(1.0, double(need) / spare);
        for (int c : group) {
            const int give = int(std::ceil(std::max(0, widths[c] - least) * share));
            widths[c] -= give;
            total -= give;
        }
    }
    // Room to spare goes to the subject.
    if (total < room)
        widths[DeletionHistoryModel::Subject] += room - total;
    m_fitting = true;
    for (int c = 0; c < widths.size(); ++c)
        lsvHistory->setColumnWidth(c, widths.at(c));
    m_fitting = false;
}

void frmDeletionHistory::updateCount()
{
    int moved = 0;
    const int shown = m_proxy->rowCount();
    for (int row = 0; row < shown; ++row)
        moved += m_model->isMove(m_proxy->mapToSource(m_proxy->index(row, 0)).row());
    lblCount->setText(DeletionHistoryModel::countText(shown - moved, moved, m_model->rowCount()));
}
