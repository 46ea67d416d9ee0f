#pragma once

#include "Runs.h"

#include "Dialer.h"
#include "MainLayout.h"
#include "ProfileHost.h"
#include "RuleCommands.h"
#include "RuleDatabase.h"
#include "RunHost.h"
#include "frmMainMenus.h"

#include <QMainWindow>
#include <QPersistentModelIndex>
#include <QPointer>
#include <functional>
#include <memory>


class CurrentProfile;
class DetailPaneWidget;
class FolderTreeWidget;
class HelpWindow;
class ListViewWidget;
class MessageFolderModel;
class ProfileBarWidget;
class QFrame;
class QLabel;
class QProgressBar;
class QPushButton;
class RuleLists;
class StatusBarWidget;

// The main window: folder tree, the four lists, the detail pane, the profile
// bar, the three buttons and the status bar. The panes are widgets of their
// own; this class wires them and keeps the folder counts and the detail pane
// in step with the two message models.
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

    void ShowFilterList();
    void ShowExemptedList();

    // The profile the window works on; the profile bar changes it.
    CurrentProfile &currentProfile() { return *m_profile; }

    // Positions count from 1 (model row + 1). A row moved by the user's
    // hand says so; a rule's move names the rule.
    void MoveToRecycleBin(int position, const SortReason &reason = {SortReason::Kind::ByHand, {}});
    void MoveToInbox(int position, const SortReason &reason = {SortReason::Kind::ByHand, {}});
    // After a filter rule: the Inbox rows the lists now send to the Recycle
    // Bin go there; after an exempted rule the Recycle Bin rows it keeps
    // come back. The status text says how many moved.
    // Both return how many rows moved.
    int recheckInbox();
    int recheckRecycleBin();
    void UpdateCountsForInbox();
    void UpdateCountsForRecycleBin();
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
    void cmdExit_Click();
    void mnuExit_Click();
    void mnuDeletionHistory_Click();
    void mnuHelpContent_Click();
    void mnuHelpAbout_Click();
    void TreeView_NodeClick(const QString &tag);

    void lsvInbox_DblClick();
    void lsvRecycle_DblClick();
    void lsvInbox_MouseUp(const QPoint &globalPos);
    void lsvRecycle_MouseUp(const QPoint &globalPos);
    void lsvFilter_MouseUp(const QPoint &globalPos);
    void lsvExempted_MouseUp(const QPoint &globalPos);

    void mnuMoveToRecycle_Click();
    void mnuMoveToInbox_Click();
    void mnuAddSenderToFilter1_Click();
    void mnuAddDomainToFilter1_Click();
    void mnuExemptSenderFromFilter1_Click();
    void mnuAddSenderToFilter2_Click();
    void mnuAddDomainToFilter2_Click();
    void mnuRemoveSenderFromFilter_Click();
    void mnuRemoveDomainFromFilter_Click();
    void mnuExemptSenderFromFilter2_Click();
    void mnuFilterAdd_Click();
    void mnuExemptedAdd_Click();
    void mnuFilterDelete_Click();
    void mnuExemptedDelete_Click();
    void mnuFilterSpamMarks_Click();
    void mnuImportRules_Click();
    void mnuExportRules_Click();

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
    void buildControls();
    void wireSignals();
    void Form_Resize();
    void profilesAvailable(bool any);
    void fitMessageColumns(const MainLayout::Geometry &g);
    void rememberColumnWidth(int column, int width);
    void loadColumnWidths();
    void Form_Unload();
    void showList(ListViewWidget *list);
    void setFolderCaption(const QString &caption);
    void showSortedBy(ListViewWidget *list, MessageFolderModel &model, int column);
    void addToFilterFromInbox(RuleCommands::Value value);
    // Shows the rule list on screen afresh after rules were added in bulk.
    void refillShownRuleList();
    // Runs a rule command; a failing lookup is shown as the run-time error
    // it is instead of ending the program.
    void guarded(const std::function<void()> &command);
    static QString movedText(int count, const QString &folder);

    RuleDatabase m_ruleDb;
    std::unique_ptr<Dialer> m_dialer;
    RuleLists *m_rules = nullptr;
    MessageFolderModel *m_inbox = nullptr;
    MessageFolderModel *m_recycle = nullptr;
    MainMenus m_menus;
    double m_dpi = 96.0;

    QWidget *m_client = nullptr;
    CurrentProfile *m_profile = nullptr;
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
    QPointer<HelpWindow> m_help;
    // The row the detail pane shows: when it leaves its list (deleted on the
    // server, moved, the list cleared) the pane is cleared with it.
    QPersistentModelIndex m_shownRow;
    bool m_paneShowsRow = false;
    QString m_helpFile;
    bool m_loaded = false;
    bool m_fittingColumns = false;
    // Message column widths the user set, in twips (0: not set).
    int m_userColumnTwips[5] = {};
    bool m_unloaded = false;
};
