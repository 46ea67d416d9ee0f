// The main window's controls: built once with the design's names and
// positions, and laid out again by the layout rules whenever the window's
// size changes.
#include "frmMain.h"

#include "CurrentProfile.h"
#include "DetailPaneWidget.h"
#include "FolderTreeWidget.h"
#include "ListViewWidget.h"
#include "MessageColumns.h"
#include "MessageFolderModel.h"
#include "ProfileBarWidget.h"
#include "RuleLists.h"
#include "StatusBarWidget.h"
#include "Twips.h"

#include <QApplication>
#include <QEvent>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardItemModel>

namespace {

QPushButton *button(QWidget *parent, const QString &name, const QString &caption, const QString &tip)
{
    auto *b = new QPushButton(caption, parent);
    b->setObjectName(name);
    b->setToolTip(tip);
    b->setAccessibleName(QString(caption).remove(QLatin1Char('&')));
    b->setAccessibleDescription(tip);
    return b;
}

QFrame *shape(QWidget *parent, const QString &name)
{
    auto *f = new QFrame(parent);
    f->setObjectName(name);
    f->setFrameShape(QFrame::Box);
    f->setFrameShadow(QFrame::Sunken);
    f->setAccessibleName(name);
    return f;
}

} // namespace

// The design's texts measured in the fonts they are drawn with, against the
// room the design gives each. The margins are the styles' usual ones.
QList<MainLayout::TextFit> frmMain::designTexts()
{
    const QFontMetrics button(QApplication::font("QPushButton"));
    const auto buttonFit = [&button](const QString &caption, int width, int height) {
        return MainLayout::TextFit{button.horizontalAdvance(caption) + button.height(), button.height() + 8, width,
                                   height};
    };
    QFont titleFont = QApplication::font("QLabel");
    titleFont.setBold(true);
    titleFont.setPointSize(12);
    const QFontMetrics title(titleFont);
    const QFontMetrics tree(QApplication::font("QTreeView"));
    const QFontMetrics combo(QApplication::font("QComboBox"));
    QFont captionFont = QApplication::font("QLabel");
    captionFont.setBold(true);
    const QFontMetrics caption(captionFont);
    return {
        buttonFit(QStringLiteral("Fetch Inbox"), 1215, 375),
        buttonFit(QStringLiteral("Empty Recycle Bin"), 1695, 375),
        buttonFit(QStringLiteral("Exit"), 735, 375),
        buttonFit(QStringLiteral("New"), 735, 350),
        buttonFit(QStringLiteral("Delete"), 855, 350),
        buttonFit(QStringLiteral("Setting"), 855, 350),
        // The profile bar's title before the box, the folder title in its bar.
        {title.horizontalAdvance(QStringLiteral("P r o f i l e")) + 8, title.height(), 2640 - 600 - 120, 375},
        {0, title.height() + 2, 0, 375 - 90},
        // The longest node with its indentation, icon and margins.
        {tree.horizontalAdvance(QStringLiteral("Recycle Bin (999)")) + 48, 0, 2130, 0},
        {0, combo.height() + 8, 0, 315},
        // A list row (one band) and a line of the detail pane.
        {0, tree.height() + 2, 0, 255},
        {0, caption.lineSpacing() + 1, 0, 240},
    };
}

int frmMain::toPixels(int twips) const
{
    return Twips::toPixels(twips, m_dpi);
}

void frmMain::buildControls()
{
    m_client = new QWidget(this);
    m_client->setObjectName(QStringLiteral("ClientArea"));
    setCentralWidget(m_client);
    m_client->installEventFilter(this);

    const auto px = [this](int twips) { return toPixels(twips); };
    const auto place = [px](QWidget *w, int l, int t, int width, int height) {
        w->setGeometry(px(l), px(t), px(width), px(height));
    };

    m_profile = new CurrentProfile(this);
    m_profileBar = new ProfileBarWidget(*this, *m_profile, m_client);
    m_profileBar->placeControls(px);
    m_profileBar->move(0, 0);
    m_profileBar->resize(px(MainLayout::kDesignWidth), px(615));

    shpTreeview = shape(m_client, QStringLiteral("shpTreeview"));
    place(shpTreeview, 120, 720, 2415, 6375);
    TreeView = new FolderTreeWidget(m_client);
    place(TreeView, 240, 840, 2130, 4215);

    shpFolder = shape(m_client, QStringLiteral("shpFolder"));
    place(shpFolder, 2640, 720, 9135, 375);
    lblFolder = new QLabel(QStringLiteral("Inbox"), m_client);
    lblFolder->setObjectName(QStringLiteral("lblFolder"));
    lblFolder->setAccessibleName(lblFolder->text());
    lblFolder->setAccessibleDescription(QStringLiteral("Folder"));
    QFont title = lblFolder->font();
    title.setBold(true);
    title.setPointSize(12);
    lblFolder->setFont(title);
    lblFolder->move(px(2760), px(765));
    lblFolder->resize(px(9135 - 240), px(375 - 90));

    lsvInbox = new ListViewWidget(QStringLiteral("lsvInbox"), QStringLiteral("Inbox"), m_client);
    lsvRecycle = new ListViewWidget(QStringLiteral("lsvRecycle"), QStringLiteral("Recycle Bin"), m_client);
    for (auto [view, model] : {std::pair{lsvInbox, m_inbox}, std::pair{lsvRecycle, m_recycle}}) {
        view->setModel(model);
        place(view, 2640, 1080, 9135, 4695);
        static const int widths[MessageFolderModel::ColumnCount] = {2000, 3950, 1500, 700, 700, 700};
        for (int c = 0; c < MessageFolderModel::ColumnCount; ++c)
            view->setColumnWidth(c, px(widths[c]));
        view->header()->setSectionsClickable(true);
        view->header()->setSortIndicatorShown(false);
    }
    lsvFilter = new ListViewWidget(QStringLiteral("lsvFilter"), QStringLiteral("Filter List"), m_client);
    lsvExempted = new ListViewWidget(QStringLiteral("lsvExempted"), QStringLiteral("Exempted List"), m_client);
    lsvFilter->setModel(m_rules->filterModel());
    lsvExempted->setModel(m_rules->exemptedModel());
    for (ListViewWidget *view : {lsvFilter, lsvExempted}) {
        place(view, 2640, 1080, 9135, 6015);
        view->setColumnWidth(0, px(12000 - 3150));
    }

    picDetail = new DetailPaneWidget(px, m_client);
    place(picDetail, 2640, 5880, 9135, 1215);

    cmdFetch = button(m_client, QStringLiteral("cmdFetch"), QStringLiteral("Fetch &Inbox"),
                      QStringLiteral("Fetch e-Mail Header From Server"));
    place(cmdFetch, 2640, 7200, 1215, 375);
    cmdConfirm = button(m_client, QStringLiteral("cmdConfirm"), QStringLiteral("&Empty Recycle Bin"),
                        QStringLiteral("Delete Recycle Bin Items From Server"));
    place(cmdConfirm, 3960, 7200, 1695, 375);
    cmdExit = button(m_client, QStringLiteral("cmdExit"), QStringLiteral("E&xit"), QStringLiteral("End Program"));
    place(cmdExit, 5760, 7200, 735, 375);

    StatusBar1 = new StatusBarWidget(px(2600), px(MainLayout::kStatusBarHeight), this);
    setStatusBar(StatusBar1);
    Progress = new QProgressBar(m_client);
    Progress->setObjectName(QStringLiteral("Progress"));
    Progress->setAccessibleName(QStringLiteral("Progress"));
    Progress->setTextVisible(false);
    Progress->hide();

    // The window never gets smaller than its smallest design size.
    m_client->setMinimumSize(px(MainLayout::kMinWidth - MainLayout::kFrameWidth),
                             px(MainLayout::kMinHeight - MainLayout::kFrameHeight - MainLayout::kStatusBarHeight));
}

QSize frmMain::outerSizeTwips() const
{
    const int clientHeight = m_client->height() + StatusBar1->height();
    return {Twips::fromPixels(m_client->width(), m_dpi) + MainLayout::kFrameWidth,
            Twips::fromPixels(clientHeight, m_dpi) + MainLayout::kFrameHeight};
}

QSize frmMain::windowSizeFor(int outerWidthTwips, int outerHeightTwips) const
{
    const int clientHeight = toPixels(outerHeightTwips - MainLayout::kFrameHeight - MainLayout::kStatusBarHeight);
    const int menuHeight = menuBar()->sizeHint().height();
    return {toPixels(outerWidthTwips - MainLayout::kFrameWidth), clientHeight + StatusBar1->height() + menuHeight};
}

bool frmMain::eventFilter(QObject *watched, QEvent *event)
{
    // The panes exist before the window is ever resized; the check keeps a
    // resize during construction harmless.
    if (watched == m_client && event->type() == QEvent::Resize && m_columns)
        Form_Resize();
    return QMainWindow::eventFilter(watched, event);
}

void frmMain::Form_Resize()
{
    const QSize outer = outerSizeTwips();
    const MainLayout::Geometry g = MainLayout::compute(outer.width(), outer.height());
    const auto px = [this](const QRect &r) {
        return QRect(toPixels(r.x()), toPixels(r.y()), toPixels(r.width()), toPixels(r.height()));
    };
    m_profileBar->resize(m_client->width(), m_profileBar->height());
    m_profileBar->applyWidth(toPixels(g.profileFrameWidth));
    m_columns->fitMessageColumns(g);
    lsvFilter->setColumnWidth(0, toPixels(g.emailColumnWidth));
    lsvExempted->setColumnWidth(0, toPixels(g.emailColumnWidth));
    shpFolder->setGeometry(px(g.shpFolder));
    lsvInbox->setGeometry(px(g.messageLists));
    lsvRecycle->setGeometry(px(g.messageLists));
    lsvFilter->setGeometry(px(g.ruleLists));
    lsvExempted->setGeometry(px(g.ruleLists));
    picDetail->setGeometry(px(g.picDetail));
    shpTreeview->setGeometry(px(g.shpTreeview));
    cmdFetch->setGeometry(px(g.cmdFetch));
    cmdConfirm->setGeometry(px(g.cmdConfirm));
    cmdExit->setGeometry(px(g.cmdExit));
}
