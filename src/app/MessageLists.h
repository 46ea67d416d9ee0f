#pragma once

#include "MessageEntry.h"
#include "SortReason.h"

#include <QList>
#include <QObject>
#include <functional>

class DetailPane;
class FolderPane;
class ListViewWidget;
class MessageFolderModel;
class QMenu;
class QPoint;
struct MainMenus;

// The Inbox and Recycle Bin lists: moving rows between them by hand, sorting
// by a column, their context menus, and keeping the folder counts and the
// detail pane in step after a move.
class MessageLists : public QObject {
    Q_OBJECT
public:
    MessageLists(ListViewWidget *inboxView, ListViewWidget *recycleView, MessageFolderModel &inbox,
                 MessageFolderModel &recycle, const MainMenus &menus, FolderPane &folders, DetailPane &details,
                 QObject *parent);

    MessageFolderModel &inbox() { return m_inbox; }
    MessageFolderModel &recycle() { return m_recycle; }
    ListViewWidget *inboxView() const { return lsvInbox; }
    ListViewWidget *recycleView() const { return lsvRecycle; }

    // Positions count from 1 (model row + 1). A row moved by the user's
    // hand says so; a rule's move names the rule.
    void MoveToRecycleBin(int position, const SortReason &reason = {SortReason::Kind::ByHand, {}});
    void MoveToInbox(int position, const SortReason &reason = {SortReason::Kind::ByHand, {}});
    void UpdateCountsForInbox();
    void UpdateCountsForRecycleBin();
    // After the learning forgot what it knew: the rows only its verdicts
    // placed are sorted as no rule names them (the Recycle Bin's back in the
    // Inbox), teaching nothing. Returns how many came back to the Inbox.
    int forgetLearnedVerdicts();

    // Told the rows moved since the last update of the counts, as lessons
    // for the learning (to the Recycle Bin: spam).
    using LessonSink = std::function<void(const QList<MessageEntry> &moved, bool toRecycleBin)>;
    void setLessonSink(LessonSink sink) { m_lessons = std::move(sink); }

public Q_SLOTS:
    void lsvInbox_DblClick();
    void lsvRecycle_DblClick();
    void lsvInbox_MouseUp(const QPoint &globalPos);
    void lsvRecycle_MouseUp(const QPoint &globalPos);
    void mnuMoveToRecycle_Click();
    void mnuMoveToInbox_Click();

private:
    void showSortedBy(ListViewWidget *list, MessageFolderModel &model, int column);
    void tellLessons();

    ListViewWidget *lsvInbox;
    ListViewWidget *lsvRecycle;
    MessageFolderModel &m_inbox;
    MessageFolderModel &m_recycle;
    QMenu *mnuInboxPopup;
    QMenu *mnuRecycleBinPopup;
    FolderPane &m_folders;
    DetailPane &m_details;
    LessonSink m_lessons;
    QList<MessageEntry> m_movedToRecycle;
    QList<MessageEntry> m_movedToInbox;
};
