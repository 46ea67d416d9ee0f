#include "MessageColumns.h"

#include "Profile.h"
#include "ListViewWidget.h"
#include "MessageFolderModel.h"
#include "SettingsStore.h"
#include "Twips.h"

#include <QAction>
#include <QHeaderView>
#include <QMenu>
#include <QStyle>

#include <algorithm>

namespace {
const QString kColumnWidthsValue = QStringLiteral("ColumnWidths");
const QString kScoreColumnValue = QStringLiteral("ScoreColumn");
// Before the Score column, the widths were stored for the first five columns.
constexpr int kColumnsBeforeScore = MessageFolderModel::Score;
} // namespace

MessageColumns::MessageColumns(ListViewWidget *inboxView, ListViewWidget *recycleView, double dpi,
                               std::function<QSize()> outerSizeTwips, QObject *parent)
    : QObject(parent)
    , lsvInbox(inboxView)
    , lsvRecycle(recycleView)
    , m_dpi(dpi)
    , m_outerSizeTwips(std::move(outerSizeTwips))
{
    for (ListViewWidget *view : {lsvInbox, lsvRecycle}) {
        connect(view->header(), &QHeaderView::sectionResized, this,
                [this](int column, int, int width) { rememberColumnWidth(column, width); });
        view->header()->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(view->header(), &QHeaderView::customContextMenuRequested, this,
                [this, view](const QPoint &pos) { showHeaderMenu(view, pos); });
    }
    hideScore(true);
}

// Hiding a column sizes it to nothing and showing it sizes it back: neither
// is a width the user set.
void MessageColumns::hideScore(bool hidden)
{
    m_fittingColumns = true;
    for (ListViewWidget *view : {lsvInbox, lsvRecycle})
        view->setColumnHidden(MessageFolderModel::Score, hidden);
    m_fittingColumns = false;
}

void MessageColumns::showHeaderMenu(ListViewWidget *view, const QPoint &pos)
{
    QMenu menu(view);
    QAction *score = menu.addAction(QStringLiteral("Show &Score"));
    score->setObjectName(QStringLiteral("mnuShowScore"));
    score->setCheckable(true);
    score->setChecked(m_scoreShown);
    score->setToolTip(QStringLiteral("How much each message the learning sorted looks like your spam"));
    if (menu.exec(view->header()->viewport()->mapToGlobal(pos)) == score)
        setScoreShown(score->isChecked());
}

void MessageColumns::setScoreToggle(QAction *toggle)
{
    m_scoreToggle = toggle;
    toggle->setChecked(m_scoreShown);
    connect(toggle, &QAction::toggled, this, &MessageColumns::setScoreShown);
}

void MessageColumns::setScoreShown(bool shown)
{
    if (shown == m_scoreShown)
        return;
    m_scoreShown = shown;
    if (m_scoreToggle)
        m_scoreToggle->setChecked(shown);
    hideScore(!shown);
    modRegistry::WriteStoreValue(modRegistry::HKEY_CURRENT_USER, kTrelvikKey, kScoreColumnValue, modRegistry::REG_SZ,
                                 shown ? QStringLiteral("1") : QStringLiteral("0"));
    Q_EMIT columnWidthSet();
}

int MessageColumns::toPixels(int twips) const
{
    return Twips::toPixels(twips, m_dpi);
}

// Date, Priority, Size and Score are never narrower than their header or,
// for the Date, than the dates it shows; Sender and Subject share what is
// left as the layout rules say. A width the user has set (remembered in the
// settings store, in twips) replaces the design's, and Subject takes up the
// difference.
void MessageColumns::fitMessageColumns(const MainLayout::Geometry &g)
{
    QHeaderView *header = lsvInbox->header();
    const QFontMetrics headerFont(header->font());
    const QFontMetrics rowFont(lsvInbox->font());
    QStyle *style = header->style();
    const int headerPad = 3 * style->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header)
        + style->pixelMetric(QStyle::PM_HeaderMarkSize, nullptr, header) + 8;
    const int cellPad = 2 * rowFont.averageCharWidth() + 6;
    const auto headerNeed = [&](int column) {
        return headerFont.horizontalAdvance(
                   lsvInbox->model()->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString())
            + headerPad;
    };
    int dateText = 0;
    for (const QString &sample : MessageFolderModel::compactDateSamples())
        dateText = std::max(dateText, rowFont.horizontalAdvance(sample));

    int widths[MessageFolderModel::ColumnCount] = {};
    widths[MessageFolderModel::Date] =
        std::max({toPixels(1500), headerNeed(MessageFolderModel::Date), dateText + cellPad});
    widths[MessageFolderModel::Priority] = std::max(toPixels(700), headerNeed(MessageFolderModel::Priority));
    widths[MessageFolderModel::Size] = std::max({toPixels(700), headerNeed(MessageFolderModel::Size),
                                                 rowFont.horizontalAdvance(QStringLiteral("99999K")) + cellPad});
    widths[MessageFolderModel::Score] = m_scoreShown
        ? std::max({toPixels(700), headerNeed(MessageFolderModel::Score),
                    rowFont.horizontalAdvance(QStringLiteral("100 %")) + cellPad})
        : 0;
    widths[MessageFolderModel::Sender] = toPixels(g.senderColumnWidth);
    for (int c : {MessageFolderModel::Sender, MessageFolderModel::Date, MessageFolderModel::Priority,
                  MessageFolderModel::Size, MessageFolderModel::Score}) {
        if (c == MessageFolderModel::Score && !m_scoreShown)
            continue;
        if (m_userColumnTwips[c] > 0)
            widths[c] =
                toPixels(m_userColumnTwips[c] + (c == MessageFolderModel::Sender ? g.senderColumnWidth - 2000 : 0));
    }
    // Subject takes what the design gives the five columns together (less
    // the Score's, when it is shown).
    int total = toPixels(g.senderColumnWidth + g.subjectColumnWidth + 1500 + 700 + 700);
    int others = 0;
    for (int c = 0; c < MessageFolderModel::ColumnCount; ++c)
        others += c == MessageFolderModel::Subject ? 0 : widths[c];
    widths[MessageFolderModel::Subject] = std::max(total - others, headerNeed(MessageFolderModel::Subject));

    m_fittingColumns = true;
    for (ListViewWidget *list : {lsvInbox, lsvRecycle})
        for (int c = 0; c < MessageFolderModel::ColumnCount; ++c)
            if (widths[c] > 0)
                list->setColumnWidth(c, widths[c]);
    m_fittingColumns = false;
}

void MessageColumns::rememberColumnWidth(int column, int width)
{
    if (m_fittingColumns || column == MessageFolderModel::Subject || column < 0
        || column >= MessageFolderModel::ColumnCount)
        return;
    const QSize outer = m_outerSizeTwips();
    const MainLayout::Geometry g = MainLayout::compute(outer.width(), outer.height());
    int twips = Twips::fromPixels(width, m_dpi);
    if (column == MessageFolderModel::Sender)
        twips -= g.senderColumnWidth - 2000;
    m_userColumnTwips[column] = std::max(twips, 150);
    QStringList texts;
    for (int value : m_userColumnTwips)
        texts << QString::number(value);
    modRegistry::WriteStoreValue(modRegistry::HKEY_CURRENT_USER, kTrelvikKey, kColumnWidthsValue, modRegistry::REG_SZ,
                                 texts.join(QLatin1Char(',')));
    Q_EMIT columnWidthSet();
}

void MessageColumns::loadColumnWidths()
{
    const QStringList texts = modRegistry::ReadStoreValue(modRegistry::HKEY_CURRENT_USER, kTrelvikKey,
                                                          kColumnWidthsValue, QString())
                                  .split(QLatin1Char(','));
    m_scoreShown = modRegistry::ReadStoreValue(modRegistry::HKEY_CURRENT_USER, kTrelvikKey, kScoreColumnValue,
                                               QString())
        == QLatin1String("1");
    if (m_scoreToggle)
        m_scoreToggle->setChecked(m_scoreShown);
    hideScore(!m_scoreShown);
    if (texts.size() != MessageFolderModel::ColumnCount && texts.size() != kColumnsBeforeScore)
        return;
    for (int c = 0; c < int(texts.size()); ++c) {
        bool ok = false;
        const int value = texts.at(c).trimmed().toInt(&ok);
        // A hand-edited value outside sense is ignored, not obeyed.
        m_userColumnTwips[c] = ok && value >= 150 && value <= 30000 ? value : 0;
    }
}
