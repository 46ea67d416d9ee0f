#include "frmMain.h"

#include "DatabaseRecovery.h"
#include "DetailPane.h"
#include "Dialer.h"
#include "FolderPane.h"
#include "FolderTreeWidget.h"
#include "Global.h"
#include "ListBands.h"
#include "Lessons.h"
#include "ListViewWidget.h"
#include "MenuCommands.h"
#include "MessageBox.h"
#include "MessageColumns.h"
#include "MessageFolderModel.h"
#include "CurrentProfile.h"
#include "MessageLists.h"
#include "LearningCommands.h"
#include "ProfileBarWidget.h"
#include "RuleActions.h"
#include "RuleFileActions.h"
#include "RuleLists.h"
#include "Runs.h"
#include "StatusBarWidget.h"
#include "StatusPane.h"
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
#include "ProfileStore.h"
#include "frmCertificate.h"
#include "MailOperations.h"
#include "WindowWords.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QInputDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

const QString frmMain::kFirstStartText = QStringLiteral(
    "No profile yet. To begin, press New at the top (Ctrl+N) and give the profile a name and your email address: "
    "Trelvik looks up your POP3 or IMAP server. Or leave the address empty and enter the server's settings "
    "yourself (POP3 or IMAP, server, port, connection security, user ID and password). Then press Fetch Inbox "
    "(F5).\n\n"
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
    buildPanes();
    wireSignals();

    const QSize design = windowSizeFor(MainLayout::kDesignWidth, MainLayout::kDesignHeight);
    resize(design);
}

frmMain::~frmMain()
{
    Form_Unload();
}

void frmMain::buildPanes()
{
    m_status = new StatusPane(StatusBar1, Progress, this);
    m_details = new DetailPane(picDetail, this);
    m_folders = new FolderPane(TreeView, lblFolder, {lsvInbox, lsvRecycle, lsvFilter, lsvExempted}, *m_inbox,
                               *m_recycle, *m_rules, *m_details, this);
    m_lists = new MessageLists(lsvInbox, lsvRecycle, *m_inbox, *m_recycle, m_menus, *m_folders, *m_details, this);
    m_lists->setLessonSink([this](const QList<MessageEntry> &moved, bool toRecycleBin) {
        const QString failed = Lessons::fromMoves(m_ruleDb, listsLearning(), moved, toRecycleBin);
        // A box, not the status bar: the command that moved the rows writes
        // its own summary there next.
        if (!failed.isEmpty())
            MessageBox::show(QStringLiteral("The move was not learned from:\r\n") + failed, QStringLiteral("Learning"),
                             MessageBox::Icon::Exclamation);
    });
    m_columns = new MessageColumns(
        lsvInbox, lsvRecycle, m_dpi, [this] { return outerSizeTwips(); }, this);
    m_columns->setScoreToggle(m_menus.mnuScoreColumn);
    m_ruleActions = new RuleActions(m_ruleDb, *m_rules, *m_lists, lsvFilter, lsvExempted, m_menus, *m_status, this);
    m_ruleFiles = new RuleFileActions(m_ruleDb, *m_rules, *m_ruleActions, lsvFilter, lsvExempted, m_menus, *m_status,
                                      this);
    m_menuCommands = new MenuCommands(m_ruleDb, m_menus, m_dpi, this);
    m_menuCommands->serveRules(*m_rules, *m_profile, *m_status, [this] { return certificateHooks(); });
    m_learning = new LearningCommands(m_ruleDb, m_menus, *m_profile, *m_lists, *m_status, this);
    m_details->follow(lsvInbox, m_inbox);
    m_details->follow(lsvRecycle, m_recycle);
}

void frmMain::wireSignals()
{
    connect(cmdFetch, &QPushButton::clicked, this, &frmMain::cmdFetch_Click);
    connect(cmdConfirm, &QPushButton::clicked, this, &frmMain::cmdConfirm_Click);
    connect(cmdExit, &QPushButton::clicked, this, &frmMain::cmdExit_Click);
    connect(m_menus.mnuExit, &QAction::triggered, this, &frmMain::mnuExit_Click);
    connect(m_menus.mnuLearnFromServer, &QAction::triggered, this, &frmMain::mnuLearnFromServer_Click);
    connect(m_profileBar, &ProfileBarWidget::profilesAvailable, this, &frmMain::profilesAvailable);
    connect(m_profileBar, &ProfileBarWidget::profileDeleted, m_learning, &LearningCommands::profileDeleted);
    // The other list and Subject follow a column width the user set.
    connect(m_columns, &MessageColumns::columnWidthSet, this, &frmMain::Form_Resize);
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
}

bool frmMain::Form_Load()
{
    // 1. The rule database: a damaged one is never compacted over its
    // backup; the user may restore the backup or end. Then compacted, on a
    // worker (a failure is reported there and start-up goes on), and
    // opened; without it the program cannot work.
    if (!offerDatabaseRecovery(m_ruleDb))
        return false;
    (void)compactAtStart(m_ruleDb);
    QString error;
    if (!m_ruleDb.OpenRuleDatabase(&error)) {
        if (error.isEmpty())
            error = QStringLiteral("The rule database cannot be opened.");
        MessageBox::show(error, QStringLiteral("Error"), MessageBox::Icon::Critical);
        return false;
    }
    // 2. Help pages ship inside the program.
    m_menuCommands->setHelpFile(QStringLiteral("qrc:/help/index.html"));
    // 3.
    setWindowTitle(QStringLiteral("Trelvik ") + QLatin1String(kTrelvikVersion));
    // 4., 5.
    TreeView->BuildFolderTree();
    m_details->ClearMessageDetails();
    // 6.-8. LastProfile, the profile box, CurrentProfile and LoadProfile.
    m_profileBar->fillFromStore();
    m_columns->loadColumnWidths();
    // 9. The progress bar goes into the status bar's first panel.
    m_status->placeProgress();
    // 10. Row bands.
    const int rowHeight = toPixels(ListBands::mainWindowRowHeightTwips());
    for (ListViewWidget *list : {lsvInbox, lsvRecycle, lsvFilter, lsvExempted})
        list->applyBands(ListBands::kFirstColour, ListBands::kSecondColour, rowHeight);
    // 11. The window opens on the empty Inbox.
    m_folders->showList(lsvInbox);
    m_details->setVisible(true);
    m_folders->setFolderCaption(QStringLiteral("Inbox"));
    Form_Resize();
    return true;
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
    m_menus.mnuLearnFromServer->setEnabled(any);
    m_menus.mnuResetLearning->setEnabled(any);
    m_menus.mnuServerRules->setEnabled(any);
    m_menus.mnuFilterServerRules->setEnabled(any);
    lsvInbox->setEmptyText(any ? QString() : kFirstStartText);
}

void frmMain::closeEvent(QCloseEvent *event)
{
    if (!m_unloaded && m_recycle->count() > 0) {
        MessageBox::Request question{QStringLiteral("Items in Recycle Bin for profile '") + m_profile->name()
                                         + QStringLiteral("' is not removed from the server.\r\nExit anyway?"),
                                     QString(), MessageBox::Icon::Question, MessageBox::Buttons::YesNo};
        question.defaultNo = true;
        if (MessageBox::show(question) != MessageBox::Result::Yes) {
            event->ignore();
            return;
        }
    }
    Form_Unload();
    m_menuCommands->closeHelp();
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

// RunHost / ProfileHost

void frmMain::setStatusText(const QString &text)
{
    m_status->setText(text);
}

void frmMain::setProgressMaximum(int maximum)
{
    m_status->setProgressMaximum(maximum);
}

void frmMain::setProgressValue(int value)
{
    m_status->setProgressValue(value);
}

void frmMain::setNodeText(const QString &nodeKey, const QString &text)
{
    m_folders->setNodeText(nodeKey, text);
}

void frmMain::selectFolderNode(const QString &nodeKey)
{
    m_folders->selectNode(nodeKey);
}

void frmMain::ShowInbox()
{
    m_folders->ShowInbox();
}

void frmMain::ShowRecycleBin()
{
    m_folders->ShowRecycleBin();
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
    m_listsLearning.clear();
    m_inbox->clear();
    m_recycle->clear();
    m_status->clear();
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
    return {m_profile->settings(), m_profile->name(), Global::CancelRequested(),
            m_profile->settings().learningName(m_profile->name())};
}

QString frmMain::listsLearning()
{
    return m_listsLearning.isEmpty() ? currentRunProfile().learning : m_listsLearning;
}

Runs::CertificateHooks frmMain::certificateHooks()
{
    // The run holds the trust in its record; a failed write is told as the
    // other settings writes are.
    const auto keepCertificate = [](const QString &profile, const QString &fingerprint) {
        if (const StoreWriteResult saved = ProfileStore().saveTrustedCertificate(profile, fingerprint); !saved)
            MessageBox::show(QStringLiteral("The certificate is trusted for now, but it could not be remembered for "
                                            "the profile '%1'.\r\n%2")
                                 .arg(profile, saved.error),
                             QString(), MessageBox::Icon::Exclamation);
    };
    return {certificatePrompt(this), keepCertificate,
            [](const QString &profile, const QString &token) {
                const ProfileSecrets::Report report = ProfileStore().saveRefreshToken(profile, token);
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
    const Runs::RunProfile profile = currentRunProfile();
    // Set before the run: the fetch empties the lists first.
    m_listsLearning = profile.learning;
    // A finished fetch says what it brought, not merely that the session ended.
    if (Runs::cmdFetch_Click(*this, m_ruleDb, *m_dialer, profile, certificateHooks()) == MailOutcome::Done)
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
    Runs::RunProfile profile = currentRunProfile();
    profile.learning = listsLearning();
    Runs::cmdConfirm_Click(*this, m_ruleDb, *m_dialer, profile, certificateHooks());
    StatusBar1->announce();
}

void frmMain::mnuLearnFromServer_Click()
{
    const QString said = Runs::mnuLearnFromServer_Click(*this, m_ruleDb, *m_dialer, currentRunProfile(),
                                                        certificateHooks());
    if (said.isEmpty())
        return;
    setStatusText(said);
    StatusBar1->announce();
}

ConnectionTestResult frmMain::testConnection(const ProfileSettingsRecord &settings,
                                             const ConnectionTestProgress &progress)
{
    SessionOptions options;
    // The user waits in front of the dialog: give up sooner than a run does.
    options.inactivityLimitMs = 20000;
    // A certificate trusted here counts for this test; the profile's trust is
    // given at its first run, once the settings are saved.
    options.certificatePrompt = certificatePrompt(QApplication::activeModalWidget() ? QApplication::activeModalWidget()
                                                                                    : this);
    // The tester renews an OAuth2 sign-in itself and hands back a refresh
    // token the provider replaced; the dialog keeps it.
    const auto words = [](const MailResult &why) {
        return WindowWords::text(why.text, why.reason, why.protocolServer);
    };
    const TestConnectionResult result = ::testConnection(settings, options, {progress.step, progress.cancel, words});
    return {result.ok, result.text, result.renewedRefreshToken};
}

void frmMain::ShowFilterList()
{
    m_folders->ShowFilterList();
}

void frmMain::ShowMessageDetails(const MessageFolderModel &list, int row)
{
    m_details->ShowMessageDetails(list, row);
}

void frmMain::ClearMessageDetails()
{
    m_details->ClearMessageDetails();
}

void frmMain::importRulesFrom(const QString &path)
{
    m_ruleFiles->importRulesFrom(path);
    m_menuCommands->rulesChanged();
}

bool frmMain::exportRulesTo(const QString &path)
{
    return m_ruleFiles->exportRulesTo(path);
}
