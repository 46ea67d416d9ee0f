#pragma once

#include "Runs.h"

#include "Dialer.h"
#include "MainLayout.h"
#include "ProfileHost.h"
#include "RuleDatabase.h"
#include "RunHost.h"
#include "frmMainMenus.h"

#include <QMainWindow>
#include <memory>


class CurrentProfile;
class DetailPane;
class DetailPaneWidget;
class FolderPane;
class FolderTreeWidget;
class ListViewWidget;
class LearningCommands;
class MenuCommands;
class MessageColumns;
class MessageFolderModel;
class MessageLists;
class ProfileBarWidget;
class QFrame;
class QLabel;
class QProgressBar;
class QPushButton;
class RuleActions;
class RuleFileActions;
class RuleLists;
class StatusBarWidget;
class StatusPane;

// The main window: folder tree, the four lists, the detail pane, the profile
// bar, the three buttons and the status bar. It builds the controls, lays
// them out, starts the runs and hands everything else to one small
// controller per pane (FolderPane, MessageLists, MessageColumns, DetailPane,
// StatusPane, RuleActions, RuleFileActions, MenuCommands).
class frmMain : public QMainWindow, public RunHost, public ProfileHost {
    Q_OBJECT
public:
    // `databaseFolder` holds the rule database; `dialer` defaults to the
    // system's.
    explicit frmMain(const QString &databaseFolder = RuleDatabase::defaultFolder(),
                     std::unique_ptr<Dialer> dialer = nullptr, QWidget *parent = nullptr);
    ~frmMain() override;

    // Prepares the window before it is shown. False when the program must
    // end (the rule database could not be opened; the user was told why).
    bool Form_Load();

    // What the empty Inbox says while no profile exists.
    static const QString kFirstStartText;
    // The status text of a fetch that read every listed message.
    static QString fetchedText(int inbox, int recycleBin);

    // RunHost and ProfileHost
    void setStatusText(const QString &text) override;
    void setProgressMaximum(int maximum) override;
    void setProgressValue(int value) override;
    void setNodeText(const QString &nodeKey, const QString &text) override;
    MessageFolderModel &inboxModel() override { return *m_inbox; }
    MessageFolderModel &recycleModel() override { return *m_recycle; }
    void selectFolderNode(const QString &nodeKey) override;
    void ShowInbox() override;
    void ShowRecycleBin() override;
    void repaintNow() override;
    QWidget *dialogParent() override { return this; }
    int recycleBinRowCount() const override;
    void clearMessageLists() override;
    ConnectionTestResult testConnection(const ProfileSettingsRecord &settings,
                                        const ConnectionTestProgress &progress) override;

    // Kept here for the tests, which reach the panes through the window.
    void ShowFilterList();
    // The profile the window works on; the profile bar changes it.
    CurrentProfile &currentProfile() { return *m_profile; }
    void ShowMessageDetails(const MessageFolderModel &list, int row);
    void ClearMessageDetails();

    RuleDatabase &ruleDatabase() { return m_ruleDb; }
    RuleLists &ruleLists() { return *m_rules; }
    const MainMenus &menus() const { return m_menus; }

    // The outer size in twips the layout rules see for the current size, and
    // the window size in pixels that gives an outer size.
    QSize outerSizeTwips() const;
    QSize windowSizeFor(int outerWidthTwips, int outerHeightTwips) const;
    int toPixels(int twips) const;
    // The dots per inch twips are drawn at: the screen's, or more for a
    // font larger than the design's.
    double logicalDpi() const { return m_dpi; }

public Q_SLOTS:
    void cmdFetch_Click();
    void cmdConfirm_Click();
    void mnuLearnFromServer_Click();
    void cmdExit_Click();
    void mnuExit_Click();

public:
    // What the two File menu commands do once the user chose a file; the
    // outcome is shown in a message box (import) or the status text.
    void importRulesFrom(const QString &path);
    bool exportRulesTo(const QString &path);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    Runs::CertificateHooks certificateHooks();
    // The profile the runs work on.
    Runs::RunProfile currentRunProfile();
    // The learned pool the lists' verdicts came from: their moves and their
    // Empty teach it, even where the profile's sharing changed since the fetch.
    QString listsLearning();
    // The design's texts measured in the fonts they are drawn with.
    static QList<MainLayout::TextFit> designTexts();
    void buildControls();
    void buildPanes();
    void wireSignals();
    void Form_Resize();
    void profilesAvailable(bool any);
    void Form_Unload();

    RuleDatabase m_ruleDb;
    std::unique_ptr<Dialer> m_dialer;
    RuleLists *m_rules = nullptr;
    MessageFolderModel *m_inbox = nullptr;
    MessageFolderModel *m_recycle = nullptr;
    MainMenus m_menus;
    double m_dpi = 96.0;

    QWidget *m_client = nullptr;
    CurrentProfile *m_profile = nullptr;
    QString m_listsLearning; // set by a fetch; empty: the profile's own
    ProfileBarWidget *m_profileBar = nullptr;
    QFrame *shpTreeview = nullptr;
    FolderTreeWidget *TreeView = nullptr;
    QFrame *shpFolder = nullptr;
    QLabel *lblFolder = nullptr;
    ListViewWidget *lsvInbox = nullptr;
    ListViewWidget *lsvRecycle = nullptr;
    ListViewWidget *lsvFilter = nullptr;
    ListViewWidget *lsvExempted = nullptr;
    DetailPaneWidget *picDetail = nullptr;
    QPushButton *cmdFetch = nullptr;
    QPushButton *cmdConfirm = nullptr;
    QPushButton *cmdExit = nullptr;
    StatusBarWidget *StatusBar1 = nullptr;
    QProgressBar *Progress = nullptr;

    // The panes' controllers, children of the window.
    StatusPane *m_status = nullptr;
    DetailPane *m_details = nullptr;
    FolderPane *m_folders = nullptr;
    MessageLists *m_lists = nullptr;
    MessageColumns *m_columns = nullptr;
    RuleActions *m_ruleActions = nullptr;
    RuleFileActions *m_ruleFiles = nullptr;
    MenuCommands *m_menuCommands = nullptr;
    LearningCommands *m_learning = nullptr;
    bool m_unloaded = false;
};
