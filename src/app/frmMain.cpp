#include "frmMain.h"

#include "DatabaseRecovery.h"
#include "DetailPaneWidget.h"
#include "Dialer.h"
#include "FolderTreeWidget.h"
#include "HelpWindow.h"
#include "ListBands.h"
#include "ListViewWidget.h"
#include "MessageBox.h"
#include "MessageFolderModel.h"
#include "ProfileBarWidget.h"
#include "RuleLists.h"
#include "Runs.h"
#include "StatusBarWidget.h"
#include "TrelvikVersion.h"
#include "Twips.h"
#include "AppIcons.h"
#include "CertificateSummary.h"
#include "ConnectionTester.h"
#include "DeletionHistory.h"
#include "KeyringSecretStore.h"
#include "OAuthTokens.h"
#include "Profile.h"
#include "SettingsStore.h"
#include "ProfileSecrets.h"
#include "frmAbout.h"
#include "frmDeletionHistory.h"
#include "frmCertificate.h"
#include "MailOperations.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QHeaderView>
#include <QInputDialog>
#include <QLineEdit>
#include <QLabel>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
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

// The design's texts measured in the fonts they are drawn with, against the
// room the design gives each. The margins are the styles' usual ones.
QList<MainLayout::TextFit> designTexts()
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

} // namespace

const QString frmMain::kFirstStartText = QStringLiteral(
    "No profile yet. To begin, press New at the top (Ctrl+N), give the profile a name, then enter your mail "
    "server's settings (POP server, port, connection security, user ID and password) and press Fetch Inbox (F5).\n\n"
    "Help > Content (F1) explains each step: the settings, fetching, the rules and emptying the Recycle Bin.");

frmMain::frmMain(const QString &databaseFolder, std::unique_ptr<Dialer> dialer, QWidget *parent)
    : QMainWindow(parent)
    , m_ruleDb(databaseFolder)
    , m_dialer(dialer ? std::move(dialer) : createSystemDialer())
{
    setObjectName(QStringLiteral("frmMain"));
    setAccessibleName(QStringLiteral("Trelvik"));
    setWindowIcon(AppIcons::appIcon());
    if (QScreen *s = screen())
        m_dpi = s->logicalDotsPerInchY();
    // Twips are drawn larger where the desktop's font needs it, as the
    // design's own toolkit did with its system font.
    m_dpi = std::max(m_dpi, 96.0 * MainLayout::fontScale(designTexts()));

    m_rules = new RuleLists(m_ruleDb, this);
    m_rules->setIconLookup(&AppIcons::icon);
    m_inbox = new MessageFolderModel(this);
    m_inbox->setObjectName(QStringLiteral("inboxModel"));
    m_recycle = new MessageFolderModel(this);
    m_recycle->setObjectName(QStringLiteral("recycleModel"));
    m_inbox->setIconLookup(&AppIcons::icon);
    m_recycle->setIconLookup(&AppIcons::icon);

    m_menus = buildMainMenus(this);
    buildControls();
    wireSignals();

    const QSize design = windowSizeFor(MainLayout::kDesignWidth, MainLayout::kDesignHeight);
    resize(design);
}

frmMain::~frmMain()
{
    Form_Unload();
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

    m_profileBar = new ProfileBarWidget(*this, m_client);
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
        static const int widths[] = {2000, 3950, 1500, 700, 700};
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

void frmMain::wireSignals()
{
    connect(cmdFetch, &QPushButton::clicked, this, &frmMain::cmdFetch_Click);
    connect(cmdConfirm, &QPushButton::clicked, this, &frmMain::cmdConfirm_Click);
    connect(cmdExit, &QPushButton::clicked, this, &frmMain::cmdExit_Click);
    connect(m_menus.mnuExit, &QAction::triggered, this, &frmMain::mnuExit_Click);
    connect(m_menus.mnuImportRules, &QAction::triggered, this, &frmMain::mnuImportRules_Click);
    connect(m_menus.mnuExportRules, &QAction::triggered, this, &frmMain::mnuExportRules_Click);
    connect(m_menus.mnuDeletionHistory, &QAction::triggered, this, &frmMain::mnuDeletionHistory_Click);
    connect(m_menus.mnuHelpContent, &QAction::triggered, this, &frmMain::mnuHelpContent_Click);
    connect(m_menus.mnuHelpAbout, &QAction::triggered, this, &frmMain::mnuHelpAbout_Click);
    connect(TreeView, &FolderTreeWidget::nodeClicked, this, &frmMain::TreeView_NodeClick);
    connect(m_profileBar, &ProfileBarWidget::profilesAvailable, this, &frmMain::profilesAvailable);
    // The usual keys beside the captions' mnemonics: F5 fetches, Ctrl+N makes
    // a profile. They press the button, so a button that is off stays off.
    const auto pressWithKey = [this](const char *name, const QKeySequence &key, QPushButton *target) {
        auto *action = new QAction(this);
        action->setObjectName(QLatin1String(name));
        action->setShortcut(key);
        addAction(action);
        connect(action, &QAction::triggered, target, &QPushButton::click);
    };
    pressWithKey("actFetchKey", QKeySequence(Qt::Key_F5), cmdFetch);
    if (auto *newProfile = m_profileBar->findChild<QPushButton *>(QStringLiteral("cmdNewProfile")))
        pressWithKey("actNewProfileKey", QKeySequence::New, newProfile);

    connect(lsvInbox, &ListViewWidget::dblClick, this, &frmMain::lsvInbox_DblClick);
    // Delete moves the highlighted rows, as the context menu's first item does.
    connect(lsvInbox, &ListViewWidget::deleteKeyDown, this, &frmMain::mnuMoveToRecycle_Click);
    connect(lsvRecycle, &ListViewWidget::dblClick, this, &frmMain::lsvRecycle_DblClick);
    connect(lsvRecycle, &ListViewWidget::deleteKeyDown, this, &frmMain::mnuMoveToInbox_Click);
    // In the rule lists Delete deletes the highlighted rules, as their menu does.
    connect(lsvFilter, &ListViewWidget::deleteKeyDown, this, &frmMain::mnuFilterDelete_Click);
    connect(lsvExempted, &ListViewWidget::deleteKeyDown, this, &frmMain::mnuExemptedDelete_Click);
    connect(lsvInbox, &ListViewWidget::rightButtonUp, this, &frmMain::lsvInbox_MouseUp);
    connect(lsvRecycle, &ListViewWidget::rightButtonUp, this, &frmMain::lsvRecycle_MouseUp);
    connect(lsvFilter, &ListViewWidget::rightButtonUp, this, &frmMain::lsvFilter_MouseUp);
    connect(lsvExempted, &ListViewWidget::rightButtonUp, this, &frmMain::lsvExempted_MouseUp);

    for (auto [view, model] : {std::pair{lsvInbox, m_inbox}, std::pair{lsvRecycle, m_recycle}}) {
        connect(view, &QAbstractItemView::clicked, this,
                [this, model = model](const QModelIndex &index) { ShowMessageDetails(*model, index.row()); });
        // Moving through the list with the keyboard shows each row too.
        connect(view->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
                [this, view = view, model = model](const QModelIndex &current) {
                    if (view->hasFocus() && view->isVisible())
                        ShowMessageDetails(*model, current.row());
                });
        // Whatever removes the row the pane shows (Empty Recycle Bin, a move,
        // a new fetch) takes it out of the pane too: it is no message any more.
        const auto forgetGoneRow = [this] {
            if (m_paneShowsRow && !m_shownRow.isValid())
                ClearMessageDetails();
        };
        connect(model, &QAbstractItemModel::rowsRemoved, this, forgetGoneRow);
        connect(model, &QAbstractItemModel::modelReset, this, forgetGoneRow);
        connect(view->header(), &QHeaderView::sectionClicked, this,
                [this, view = view, model = model](int column) { showSortedBy(view, *model, column); });
        connect(view->header(), &QHeaderView::sectionResized, this,
                [this](int column, int, int width) { rememberColumnWidth(column, width); });
    }

    connect(m_menus.mnuMoveToRecycle, &QAction::triggered, this, &frmMain::mnuMoveToRecycle_Click);
    connect(m_menus.mnuMoveToInbox, &QAction::triggered, this, &frmMain::mnuMoveToInbox_Click);
    connect(m_menus.mnuAddSenderToFilter1, &QAction::triggered, this, &frmMain::mnuAddSenderToFilter1_Click);
    connect(m_menus.mnuAddDomainToFilter1, &QAction::triggered, this, &frmMain::mnuAddDomainToFilter1_Click);
    connect(m_menus.mnuExemptSenderFromFilter1, &QAction::triggered, this, &frmMain::mnuExemptSenderFromFilter1_Click);
    connect(m_menus.mnuAddSenderToFilter2, &QAction::triggered, this, &frmMain::mnuAddSenderToFilter2_Click);
    connect(m_menus.mnuAddDomainToFilter2, &QAction::triggered, this, &frmMain::mnuAddDomainToFilter2_Click);
    connect(m_menus.mnuRemoveSenderFromFilter, &QAction::triggered, this, &frmMain::mnuRemoveSenderFromFilter_Click);
    connect(m_menus.mnuRemoveDomainFromFilter, &QAction::triggered, this, &frmMain::mnuRemoveDomainFromFilter_Click);
    connect(m_menus.mnuExemptSenderFromFilter2, &QAction::triggered, this, &frmMain::mnuExemptSenderFromFilter2_Click);
    connect(m_menus.mnuFilterAdd, &QAction::triggered, this, &frmMain::mnuFilterAdd_Click);
    connect(m_menus.mnuFilterSpamMarks, &QAction::triggered, this, &frmMain::mnuFilterSpamMarks_Click);
    connect(m_menus.mnuExemptedAdd, &QAction::triggered, this, &frmMain::mnuExemptedAdd_Click);
    connect(m_menus.mnuFilterDelete, &QAction::triggered, this, &frmMain::mnuFilterDelete_Click);
    connect(m_menus.mnuExemptedDelete, &QAction::triggered, this, &frmMain::mnuExemptedDelete_Click);
}

bool frmMain::Form_Load()
{
    // 1. The rule database: a damaged one is never compacted over its
    // backup; the user may restore the backup or end. Then compacted (a
    // failure is reported there and start-up goes on) and opened; without it
    // the program cannot work.
    if (!offerDatabaseRecovery(m_ruleDb))
        return false;
    m_ruleDb.CompactRuleDatabase();
    QString error;
    if (!m_ruleDb.OpenRuleDatabase(&error)) {
        if (error.isEmpty())
            error = QStringLiteral("The rule database cannot be opened.");
        MessageBox::show(error, QStringLiteral("Error"), MessageBox::Icon::Critical);
        return false;
    }
    // 2. Help pages ship inside the program.
    m_helpFile = QStringLiteral("qrc:/help/index.html");
    // 3.
    setWindowTitle(QStringLiteral("Trelvik ") + QLatin1String(kTrelvikVersion));
    // 4., 5.
    TreeView->BuildFolderTree();
    ClearMessageDetails();
    // 6.-8. LastProfile, the profile box, CurrentProfile and LoadProfile.
    m_profileBar->fillFromStore();
    loadColumnWidths();
    // 9. The progress bar goes into the status bar's first panel.
    StatusBar1->placeInFirstPanel(Progress);
    Progress->setValue(0);
    Progress->show();
    // 10. Row bands.
    const int rowHeight = toPixels(ListBands::mainWindowRowHeightTwips());
    for (ListViewWidget *list : {lsvInbox, lsvRecycle, lsvFilter, lsvExempted})
        list->applyBands(ListBands::kFirstColour, ListBands::kSecondColour, rowHeight);
    // 11. The window opens on the empty Inbox.
    showList(lsvInbox);
    picDetail->show();
    setFolderCaption(QStringLiteral("Inbox"));
    m_loaded = true;
    Form_Resize();
    return true;
}

void frmMain::setFolderCaption(const QString &caption)
{
    lblFolder->setText(caption);
    // The caption is the label's accessible name; a screen reader hears the change.
    lblFolder->setAccessibleName(caption);
}

void frmMain::Form_Unload()
{
    if (m_unloaded)
        return;
    m_unloaded = true;
    m_ruleDb.CloseRuleDatabase();
}

// Without a profile the runs have nothing to work on: their buttons are off
// and the empty Inbox says how to begin.
void frmMain::profilesAvailable(bool any)
{
    cmdFetch->setEnabled(any);
    cmdConfirm->setEnabled(any);
    lsvInbox->setEmptyText(any ? QString() : kFirstStartText);
}

void frmMain::closeEvent(QCloseEvent *event)
{
    if (!m_unloaded && m_recycle->count() > 0) {
        MessageBox::Request question{QStringLiteral("Items in Recycle Bin for profile '") + Global::CurrentProfile
                                         + QStringLiteral("' is not removed from the server.\r\nExit anyway?"),
                                     QString(), MessageBox::Icon::Question, MessageBox::Buttons::YesNo};
        question.defaultNo = true;
        if (MessageBox::show(question) != MessageBox::Result::Yes) {
            event->ignore();
            return;
        }
    }
    Form_Unload();
    if (m_help)
        m_help->close();
    event->accept();
}

void frmMain::cmdExit_Click()
{
    close();
}

void frmMain::mnuExit_Click()
{
    close();
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
    if (watched == m_client && event->type() == QEvent::Resize)
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
    fitMessageColumns(g);
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

namespace {
const QString kColumnWidthsValue = QStringLiteral("ColumnWidths");
}

// The columns of the two message lists. Date, Priority and Size are never
// narrower than their header or, for the Date, than the dates it shows;
// Sender and Subject share what is left as the layout rules say. A width the
// user has set (remembered in the settings store, in twips) replaces the
// design's, and Subject takes up the difference.
void frmMain::fitMessageColumns(const MainLayout::Geometry &g)
{
    QHeaderView *header = lsvInbox->header();
    const QFontMetrics headerFont(header->font());
    const QFontMetrics rowFont(lsvInbox->font());
    QStyle *style = header->style();
    const int headerPad = 3 * style->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header)
        + style->pixelMetric(QStyle::PM_HeaderMarkSize, nullptr, header) + 8;
    const int cellPad = 2 * rowFont.averageCharWidth() + 6;
    const auto headerNeed = [&](int column) {
        return headerFont.horizontalAdvance(m_inbox->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString())
            + headerPad;
    };
    int dateText = 0;
    for (const QString &sample : MessageFolderModel::compactDateSamples())
        dateText = std::max(dateText, rowFont.horizontalAdvance(sample));

    int widths[MessageFolderModel::ColumnCount] = {};
    widths[MessageFolderModel::Date] = std::max({toPixels(1500), headerNeed(MessageFolderModel::Date), dateText + cellPad});
    widths[MessageFolderModel::Priority] = std::max(toPixels(700), headerNeed(MessageFolderModel::Priority));
    widths[MessageFolderModel::Size] = std::max({toPixels(700), headerNeed(MessageFolderModel::Size),
                                                 rowFont.horizontalAdvance(QStringLiteral("99999K")) + cellPad});
    widths[MessageFolderModel::Sender] = toPixels(g.senderColumnWidth);
    for (int c : {MessageFolderModel::Sender, MessageFolderModel::Date, MessageFolderModel::Priority,
                  MessageFolderModel::Size}) {
        if (m_userColumnTwips[c] > 0)
            widths[c] = toPixels(m_userColumnTwips[c] + (c == MessageFolderModel::Sender ? g.senderColumnWidth - 2000 : 0));
    }
    // Subject takes what the design gives the five columns together.
    int total = toPixels(g.senderColumnWidth + g.subjectColumnWidth + 1500 + 700 + 700);
    int others = 0;
    for (int c = 0; c < MessageFolderModel::ColumnCount; ++c)
        others += c == MessageFolderModel::Subject ? 0 : widths[c];
    widths[MessageFolderModel::Subject] = std::max(total - others, headerNeed(MessageFolderModel::Subject));

    m_fittingColumns = true;
    for (ListViewWidget *list : {lsvInbox, lsvRecycle})
        for (int c = 0; c < MessageFolderModel::ColumnCount; ++c)
            list->setColumnWidth(c, widths[c]);
    m_fittingColumns = false;
}

void frmMain::rememberColumnWidth(int column, int width)
{
    if (m_fittingColumns || column == MessageFolderModel::Subject || column < 0
        || column >= MessageFolderModel::ColumnCount)
        return;
    const MainLayout::Geometry g = MainLayout::compute(outerSizeTwips().width(), outerSizeTwips().height());
    int twips = Twips::fromPixels(width, m_dpi);
    if (column == MessageFolderModel::Sender)
        twips -= g.senderColumnWidth - 2000;
    m_userColumnTwips[column] = std::max(twips, 150);
    QStringList texts;
    for (int value : m_userColumnTwips)
        texts << QString::number(value);
    modRegistry::WriteStoreValue(modRegistry::HKEY_CURRENT_USER, kTrelvikKey, kColumnWidthsValue, modRegistry::REG_SZ,
                                 texts.join(QLatin1Char(',')));
    // The other list and Subject follow.
    Form_Resize();
}

void frmMain::loadColumnWidths()
{
    const QStringList texts = modRegistry::ReadStoreValue(modRegistry::HKEY_CURRENT_USER, kTrelvikKey, kColumnWidthsValue, QString())
                                  .split(QLatin1Char(','));
    if (texts.size() != MessageFolderModel::ColumnCount)
        return;
    for (int c = 0; c < MessageFolderModel::ColumnCount; ++c) {
        bool ok = false;
        const int value = texts.at(c).trimmed().toInt(&ok);
        // A hand-edited value outside sense is ignored, not obeyed.
        m_userColumnTwips[c] = ok && value >= 150 && value <= 30000 ? value : 0;
    }
}

// RunHost / ProfileHost

void frmMain::setStatusText(const QString &text)
{
    StatusBar1->setPanelText(text);
}

void frmMain::setProgressMaximum(int maximum)
{
    Progress->setMaximum(maximum);
}

void frmMain::setProgressValue(int value)
{
    Progress->setValue(value);
}

void frmMain::setNodeText(const QString &nodeKey, const QString &text)
{
    TreeView->setNodeText(nodeKey, text);
}

void frmMain::selectFolderNode(const QString &nodeKey)
{
    TreeView->selectNode(nodeKey);
}

void frmMain::repaintNow()
{
    repaint();
    TreeView->repaint();
}

int frmMain::recycleBinRowCount() const
{
    return m_recycle->count();
}

void frmMain::clearMessageLists()
{
    m_inbox->clear();
    m_recycle->clear();
    setStatusText(QString());
    Progress->setValue(0);
}

namespace {
// Shows a certificate that failed verification and lets the user refuse it
// or trust it for this profile.
CertificatePrompt certificatePrompt(QWidget *parent)
{
    return [parent](const QString &host, const QList<QSslCertificate> &chain, const QList<QSslError> &errors) {
        return frmCertificate::ask(host, SummarizeCertificate(chain, errors), parent) == frmCertificate::Choice::Trust
            ? CertificateDecision::TrustAlways
            : CertificateDecision::Refuse;
    };
}
} // namespace

Runs::RunProfile frmMain::currentRunProfile()
{
    return {Global::ProfileSettings, Global::CurrentProfile, Global::CancelRequested()};
}

Runs::CertificateHooks frmMain::certificateHooks()
{
    return {certificatePrompt(this), SaveTrustedCertificate, [](const QString &profile, const QString &token) {
                const ProfileSecrets::Report report
                    = ProfileSecrets::saveOne(desktopKeyring(), profile, SecretKind::OAuthRefreshToken, token);
                if (report.trouble)
                    MessageBox::show(report.text, QStringLiteral("Sign-In Kept"), MessageBox::Icon::Exclamation);
            },
            [this](const QString &why) {
                return QInputDialog::getText(this, QStringLiteral("Email Password"),
                                             why + QStringLiteral("\nEnter the email password to use this time:"),
                                             QLineEdit::Password);
            }};
}

// A run ends with its outcome in the status text; a screen reader is told,
// as a seeing user glances at it.
void frmMain::cmdFetch_Click()
{
    // A finished fetch says what it brought, not merely that the session ended.
    if (Runs::cmdFetch_Click(*this, m_ruleDb, *m_dialer, currentRunProfile(), certificateHooks()) == MailOutcome::Done)
        setStatusText(fetchedText(m_inbox->count(), m_recycle->count()));
    StatusBar1->announce();
}

QString frmMain::fetchedText(int inbox, int recycleBin)
{
    const int all = inbox + recycleBin;
    if (all == 0)
        return QStringLiteral("Fetched 0 messages: the mailbox is empty");
    return QStringLiteral("Fetched %1 %2: %3 in the Inbox, %4 in the Recycle Bin")
        .arg(all)
        .arg(all == 1 ? QStringLiteral("message") : QStringLiteral("messages"))
        .arg(inbox)
        .arg(recycleBin);
}

void frmMain::cmdConfirm_Click()
{
    Runs::cmdConfirm_Click(*this, *m_dialer, currentRunProfile(), certificateHooks());
    StatusBar1->announce();
}

void frmMain::mnuDeletionHistory_Click()
{
    QString error;
    auto records = DeletionHistory(m_ruleDb).read(&error);
    if (!records) {
        MessageBox::show(QStringLiteral("The deletion history could not be read.\r\n") + error, QStringLiteral("Error"),
                         MessageBox::Icon::Critical);
        return;
    }
    frmDeletionHistory dialog(std::move(*records), this);
    dialog.exec();
}

DeletionJournal frmMain::deletionJournal()
{
    return historyJournal(m_ruleDb, Global::CurrentProfile, [](const QString &error) {
        MessageBox::show(QStringLiteral("The deleted messages could not be recorded in the deletion history.\r\n")
                             + error,
                         QStringLiteral("Error"), MessageBox::Icon::Critical);
    });
}

ConnectionTestResult frmMain::testConnection(const ProfileSettingsRecord &settings,
                                            const ConnectionTestProgress &progress)
{
    SessionOptions options;
    // The user waits in front of the dialog: give up sooner than a run does.
    options.inactivityLimitMs = 20000;
    // A certificate trusted here counts for this test; the profile's trust is
    // given at its first run, once the settings are saved.
    options.certificatePrompt = certificatePrompt(QApplication::activeModalWidget() ? QApplication::activeModalWidget() : this);
    // The tester renews an OAuth2 sign-in itself and hands back a refresh
    // token the provider replaced; the dialog keeps it.
    const TestConnectionResult result = ::testConnection(settings, options, {progress.step, progress.cancel});
    return {result.ok, result.text, result.renewedRefreshToken};
}

void frmMain::mnuHelpContent_Click()
{
    if (!m_help)
        m_help = new HelpWindow(this);
    m_help->showPage(QUrl(m_helpFile));
    m_help->show();
    m_help->raise();
    m_help->activateWindow();
}

void frmMain::mnuHelpAbout_Click()
{
    frmAbout about(this, m_dpi);
    about.exec();
}
