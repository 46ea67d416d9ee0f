// The main window through its object names: start-up, the folder tree, the
// message lists and their commands, sorting, rules, layout and About.
#include "CurrentProfile.h"
#include "AppIcons.h"
#include "DetailPaneWidget.h"
#include "Learner.h"
#include "Dialer.h"
#include "ProfileRecord.h"
#include "CancelFlag.h"
#include "MessageFolderModel.h"
#include "Profile.h"
#include "RuleLists.h"
#include "ScriptedPop3Server.h"
#include "SettingsStore.h"
#include "StatusBarWidget.h"
#include "TestSupport.h"
#include "MessageBoxDialog.h"
#include "frmMain.h"

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QSignalSpy>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTcpServer>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

class FakeDialer : public Dialer {
public:
    void DialUp(const ProfileSettingsRecord &, CancelFlag &) override { ++dials; }
    void HangUp() override { }
    int dials = 0;
};

MessageEntry entry(const QString &sender, int number, const QString &size = u"    1K"_s,
                   const QString &icon = u"inbox"_s)
{
    MessageEntry e;
    e.sender = sender;
    e.subject = u"Subject of "_s + sender;
    e.date = u"Mon, 1 Jan 2024"_s;
    e.priority = u"3"_s;
    e.size = size;
    e.number = number;
    e.iconKey = icon;
    return e;
}

QStringList senders(const MessageFolderModel &m)
{
    QStringList out;
    for (int i = 0; i < m.count(); ++i)
        out << m.entry(i).sender;
    return out;
}

// What the pane must show for a row (the list's shown texts), or nothing.
QStringList paneFor(const MessageFolderModel &m, int row)
{
    QStringList out;
    for (int c = 0; c <= MessageFolderModel::Size; ++c)
        out << (row < 0 ? QString() : m.data(m.index(row, c), Qt::DisplayRole).toString());
    return out;
}

void addProfile(const QString &name)
{
    using namespace modRegistry;
    WriteStoreValue(HKEY_CURRENT_USER, kSettingKeyPrefix + name, u"EmailHost"_s, REG_SZ, u"pop.example"_s);
    WriteStoreValue(HKEY_CURRENT_USER, kTrelvikKey, u"LastProfile"_s, REG_SZ, name);
}

const QString kInbox = u"lsvInbox"_s;
const QString kRecycle = u"lsvRecycle"_s;
const QStringList kNoPane(5, QString());

// A fresh window on a private home.
struct Window {
    testsupport::TempHome home;
    testsupport::MessageBoxRecorder boxes;
    FakeDialer *dialer = new FakeDialer;
    frmMain w{home.appDataFolder(), std::unique_ptr<Dialer>(dialer)};

    bool load(bool show = true) { return w.Form_Load() && (!show || (w.show(), QTest::qWaitForWindowExposed(&w))); }
    template <typename T = QWidget>
    T *find(const QString &name)
    {
        return w.findChild<T *>(name);
    }
    QTreeView *list(const QString &name) { return find<QTreeView>(name); }
    QString text(const QString &label) { return find<QLabel>(label)->text(); }
    QTreeWidget *tree() { return find<QTreeWidget>(u"TreeView"_s); }
    QTreeWidgetItem *node(const QString &key)
    {
        for (QTreeWidgetItemIterator it(tree()); *it; ++it)
            if ((*it)->data(0, Qt::UserRole + 1).toString() == key)
                return *it;
        return nullptr;
    }
    QString rule() { return text(u"lblRule"_s); }
    QString accessibleName(const QString &object)
    {
        QAccessibleInterface *face = QAccessible::queryAccessibleInterface(find(object));
        return face ? face->text(QAccessible::Name) : u"(no interface)"_s;
    }
    void clickRow(const QString &listName, int row)
    {
        QTreeView *view = list(listName);
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                          view->visualRect(view->model()->index(row, 0)).center());
    }
    QString counts() { return node(u"Inbox"_s)->text(0) + u'/' + node(u"Recycle Bin"_s)->text(0); }
    QStringList pane() { return find<DetailPaneWidget>(QStringLiteral("picDetail"))->texts(); }
    QStringList visibleLists()
    {
        QStringList out;
        for (const char *name : {"lsvInbox", "lsvRecycle", "lsvFilter", "lsvExempted"})
            if (list(QLatin1String(name))->isVisibleTo(&w))
                out << QLatin1String(name);
        return out;
    }
    void fill(MessageFolderModel &m, const QStringList &names, const QString &icon = u"inbox"_s)
    {
        for (const QString &n : names)
            m.append(entry(n, m.count() + 1 + (icon == "inbox"_L1 ? 0 : 100), u"    1K"_s, icon));
    }
    void select(const QString &listName, const QList<int> &rows)
    {
        QTreeView *v = list(listName);
        v->selectionModel()->clear();
        for (int r : rows)
            v->selectionModel()->select(v->model()->index(r, 0),
                                        QItemSelectionModel::Select | QItemSelectionModel::Rows);
        if (!rows.isEmpty())
            v->selectionModel()->setCurrentIndex(v->model()->index(rows.first(), 0), QItemSelectionModel::NoUpdate);
    }
    void clickNode(const QString &key)
    {
        QTest::mouseClick(tree()->viewport(), Qt::LeftButton, {}, tree()->visualItemRect(node(key)).center());
    }
    bool filtered(const QString &rule) { return w.ruleDatabase().IsInList(rule, u"tbfilter"_s); }
};

} // namespace

class TestFrmMain : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void startupState()
    {
        Window t;
        QVERIFY(t.load(false));
        QVERIFY(!t.w.isVisible()); // Form_Load runs to its end before the window shows
        QCOMPARE(t.w.windowTitle(), u"Trelvik 3.4"_s);
        QStringList texts; // in tree order
        for (QTreeWidgetItemIterator it(t.tree()); *it; ++it)
            texts << (*it)->text(0) + u'@' + ((*it)->parent() ? (*it)->parent()->text(0) : QString());
        QCOMPARE(texts,
                 (QStringList{u"Folders@"_s, u"Inbox (0)@Folders"_s, u"Recycle Bin (0)@Folders"_s,
                              u"Filter List@Folders"_s, u"Exempted List@Folders"_s}));
        // Each node shows its selected image when chosen (the Inbox's open folder).
        const auto image = [](const QIcon &icon, QIcon::Mode mode) {
            return icon.pixmap(QSize(16, 16), 1.0, mode).toImage();
        };
        QVERIFY(image(t.node(u"Inbox"_s)->icon(0), QIcon::Selected)
                == image(AppIcons::icon(u"greenopen"_s), QIcon::Normal));
        QCOMPARE(t.tree()->currentItem(), t.node(u"Inbox"_s));
        QCOMPARE(t.visibleLists(), QStringList{kInbox});
        QVERIFY(t.find(u"picDetail"_s)->isVisibleTo(&t.w));
        QCOMPARE(t.text(u"lblFolder"_s), u"Inbox"_s);
        QCOMPARE(t.pane(), kNoPane);
        QCOMPARE(t.text(u"StatusBar1Panel2"_s), u"Offline"_s);
        auto *progress = t.find<QProgressBar>(u"Progress"_s);
        QVERIFY2(t.find(u"StatusBar1"_s)->isAncestorOf(progress), "progress bar outside the status bar");
        QVERIFY(progress->isVisibleTo(&t.w) && progress->value() == 0);
        QCOMPARE(progress->parentWidget()->width(), t.w.toPixels(2600));
        // A long status text is cut, not made room for (under a window
        // manager the window grew to the text's width).
        const int width = t.w.width();
        t.find<StatusBarWidget>(u"StatusBar1"_s)->setPanelText(QString(400, u'x'));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        QVERIFY(t.w.minimumSizeHint().width() <= width);
        t.find<StatusBarWidget>(u"StatusBar1"_s)->setPanelText(u"Offline"_s);
        // Buttons: name, caption, tooltip. Menus: name, title, items in order ("-" a separator).
        const QStringList table =
            {u"cmdFetch|Fetch &Inbox|Fetch e-Mail Header From Server"_s,
             u"cmdConfirm|&Empty Recycle Bin|Delete Recycle Bin Items From Server"_s,
             u"cmdExit|E&xit|End Program"_s,
             u"mnuFile|&File|&Import Rules..., &Export Rules..., -, (disabled), (disabled), Reset Learning of &All "
             u"Profiles..., Show &Score Column, (disabled), Deletion &History..., -, E&xit"_s,
             u"mnuHelp|&Help|&Content, -, &About"_s,
             u"mnuInboxPopup|Inbox Popup|Move To &Recycle Bin, -, Add &Sender To Filter List, Add &Domain To Filter "
             u"List, -, "
             "&Exempt Sender From Filter"_s,
             u"mnuRecycleBinPopup|Recycle Bin Popup|Move To &Inbox, -, Add &Sender To Filter List, Add &Domain To "
             u"Filter List, -, "
             "&Remove Sender From Filter List, Remove D&omain From Filter List, -, &Exempt Sender From Filter"_s,
             u"mnuFilterList|Filter List|&Add, &Delete, -, Add Server &Spam Marks, (disabled)"_s,
             u"mnuExemptedList|ExemptedList|&Add, &Delete"_s};
        for (const QString &row : table) {
            const QString name = row.section(u'|', 0, 0);
            QStringList got{name};
            if (auto *b = t.find<QPushButton>(name))
                got << b->text() << b->toolTip();
            if (auto *m = t.find<QMenu>(name)) {
                QStringList items;
                for (QAction *a : m->actions())
                    items << (a->isSeparator() ? u"-"_s : a->isEnabled() ? a->text() : u"(disabled)"_s);
                got << m->title() << items.join(u", "_s);
            }
            QCOMPARE(got.join(u'|'), row);
        }
        QStringList bar; // only File and Help are in the menu bar; the others are context menus
        for (QAction *a : t.w.menuBar()->actions())
            bar << a->text();
        QCOMPARE(bar, (QStringList{u"&File"_s, u"&Help"_s}));
        VERIFY_BOXES(t.boxes);
    }

    void databaseAtStart_data()
    {
        QTest::addColumn<bool>("folderIsAFile");
        QTest::newRow("first start: no database yet, no box") << false;
        QTest::newRow("cannot be opened: a box ends the program") << true;
    }

    void databaseAtStart()
    {
        QFETCH(bool, folderIsAFile);
        testsupport::TempHome home;
        testsupport::MessageBoxRecorder boxes;
        // A plain file where the database's folder should be: nothing can be created in it.
        const QString folder = folderIsAFile ? home.path() + u"/not-a-folder"_s : home.appDataFolder();
        QFile f(folder);
        QVERIFY(!folderIsAFile || (f.open(QIODevice::WriteOnly) && f.write("x") == 1));
        f.close();
        QVERIFY(!QFileInfo::exists(folder + u"/trelvik.mdb"_s));
        frmMain w(folder, std::make_unique<FakeDialer>());
        QCOMPARE(w.Form_Load(), !folderIsAFile);
        // A failed compaction may speak before the failed open; nothing after it ran.
        QCOMPARE(boxes.shown().isEmpty(), !folderIsAFile);
        QVERIFY(boxes.shown().size() <= 2);
        for (const MessageBox::Request &box : boxes.shown())
            QVERIFY2(box.title == u"Error"_s && box.icon == MessageBox::Icon::Critical && !box.text.trimmed().isEmpty(),
                     qPrintable(box.text));
        QCOMPARE(w.windowTitle() == u"Trelvik 3.4"_s, !folderIsAFile);
        QVERIFY(!w.isVisible());
    }

    // A damaged trelvik.mdb beside a good backup: the backup is offered, and
    // neither answer loses a rule or a file.
    void damagedDatabaseAtStart_data()
    {
        QTest::addColumn<QByteArray>("damaged");
        QTest::addColumn<bool>("withBackup");
        QTest::addColumn<MessageBox::Result>("answer");
        QTest::newRow("empty file, Yes restores") << QByteArray() << true << MessageBox::Result::Yes;
        QTest::newRow("garbage, No ends") << QByteArray(4096, 'z') << true << MessageBox::Result::No;
        QTest::newRow("empty file, no backup") << QByteArray() << false << MessageBox::Result::Ok;
    }
    void damagedDatabaseAtStart()
    {
        QFETCH(QByteArray, damaged);
        QFETCH(bool, withBackup);
        QFETCH(MessageBox::Result, answer);
        testsupport::TempHome home;
        const QString folder = home.appDataFolder();
        {
            RuleDatabase made(folder); // a backup with two filter rules and one exemption
            QVERIFY(made.OpenRuleDatabase()
                    && made.InsertRules(u"tbfilter"_s, {u"a@spam.example"_s, u"*@junk.example"_s})
                    && made.InsertRule(u"tbexempted"_s, u"boss@work.example"_s));
        }
        QVERIFY(withBackup ? QFile::rename(folder + u"/trelvik.mdb"_s, folder + u"/backup.mdb"_s)
                           : QFile::remove(folder + u"/trelvik.mdb"_s));
        QFile file(folder + u"/trelvik.mdb"_s);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(damaged) == damaged.size());
        file.close();
        const QStringList before = QDir(folder).entryList(QDir::Files);

        QList<MessageBox::Request> shown; // every box, answered with the row's answer
        MessageBox::Handler previous = MessageBox::setHandler([&](const MessageBox::Request &r) {
            shown << r;
            return answer;
        });
        const auto restore = qScopeGuard([&] { MessageBox::setHandler(std::move(previous)); });
        frmMain w(folder, std::make_unique<FakeDialer>());
        QCOMPARE(w.Form_Load(), answer == MessageBox::Result::Yes);
        QCOMPARE(shown.size(), 1);
        const MessageBox::Request box = shown.first();
        QVERIFY2(box.text.contains(folder + u"/trelvik.mdb"_s) && box.text.contains(u"damaged"_s),
                 qPrintable(box.text));
        if (!withBackup) {
            QCOMPARE(box.icon, MessageBox::Icon::Critical);
            QVERIFY2(box.text.contains(u"no usable backup"_s), qPrintable(box.text));
        } else {
            QCOMPARE(box.buttons, MessageBox::Buttons::YesNo);
            QVERIFY2(box.text.contains(u"with 2 filter and 1 exempted rules"_s), qPrintable(box.text));
        }
        if (answer != MessageBox::Result::Yes) {
            QCOMPARE(QDir(folder).entryList(QDir::Files), before);
            QCOMPARE(QFileInfo(folder + u"/trelvik.mdb"_s).size(), qint64(damaged.size()));
            return;
        }
        QVERIFY(w.ruleDatabase().IsInList(u"A@SPAM.example"_s, u"tbfilter"_s));
        QVERIFY(w.ruleDatabase().IsInList(u"boss@work.example"_s, u"tbexempted"_s));
        const QStringList kept = QDir(folder).entryList({u"trelvik.mdb.damaged-*"_s}, QDir::Files);
        QCOMPARE(kept.size(), 1);
        QCOMPARE(QFileInfo(folder + u'/' + kept.first()).size(), qint64(damaged.size()));
    }

    void profileBoxAtStart_data()
    {
        QTest::addColumn<QStringList>("profiles");
        QTest::addColumn<QString>("lastProfile");
        QTest::addColumn<QStringList>("listed");
        QTest::addColumn<int>("expectedIndex");
        const QStringList homeWork{u"Home"_s, u"Work"_s};
        QTest::newRow("last profile still there") << homeWork << "Work" << homeWork << 1;
        QTest::newRow("last profile gone") << homeWork << "Gone" << homeWork << -1;
        QTest::newRow("case differs: no match") << homeWork << "work" << homeWork << -1;
        QTest::newRow("\"Not Found\" ends the listing")
            << QStringList{u"Home"_s, u"Not Found"_s, u"Work"_s} << "Work" << QStringList{u"Home"_s} << -1;
    }

    void profileBoxAtStart()
    {
        QFETCH(QStringList, profiles);
        QFETCH(QString, lastProfile);
        QFETCH(int, expectedIndex);
        testsupport::TempHome home;
        using namespace modRegistry;
        for (const QString &name : profiles)
            WriteStoreValue(HKEY_CURRENT_USER, kSettingKeyPrefix + name, u"EmailHost"_s, REG_SZ, name + u".example"_s);
        WriteStoreValue(HKEY_CURRENT_USER, kTrelvikKey, u"LastProfile"_s, REG_SZ, lastProfile);
        testsupport::MessageBoxRecorder boxes;
        frmMain w(home.appDataFolder(), std::make_unique<FakeDialer>());
        QVERIFY(w.Form_Load());
        auto *box = w.findChild<QComboBox *>(u"cboProfile"_s);
        QStringList items;
        for (int i = 0; i < box->count(); ++i)
            items << box->itemText(i);
        QTEST(items, "listed");
        QCOMPARE(box->currentIndex(), expectedIndex);
        QCOMPARE(w.currentProfile().name(), expectedIndex < 0 ? QString() : lastProfile);
        QCOMPARE(w.currentProfile().settings().EmailHost, expectedIndex < 0 ? QString() : lastProfile + u".example"_s);
        VERIFY_BOXES(boxes);
    }

    void folderNodes()
    {
        Window t;
        QVERIFY(t.load());
        const auto shows = [&](const QString &list, const QString &title) {
            return t.visibleLists() == QStringList{list} && t.text(u"lblFolder"_s) == title;
        };
        t.w.ruleLists().AddFilter(u"a@x"_s);
        // Each node shows its list (the pane only with messages); the root changes nothing.
        for (const auto &[key, list] : {std::pair{"Recycle Bin", "lsvRecycle"}, std::pair{"Filter List", "lsvFilter"},
                                        std::pair{"Exempted List", "lsvExempted"}, std::pair{"Inbox", "lsvInbox"}}) {
            t.clickNode(QLatin1String(key));
            QVERIFY2(shows(QLatin1String(list), QLatin1String(key)), key);
            QCOMPARE(t.find(u"picDetail"_s)->isVisibleTo(&t.w), !QByteArray(key).endsWith("List"));
            t.clickNode(u"Root"_s);
            QVERIFY2(shows(QLatin1String(list), QLatin1String(key)), key);
        }
        // The rule lists are emptied while a message folder shows.
        QCOMPARE(t.w.ruleLists().filterModel()->rowCount() + t.w.ruleLists().exemptedModel()->rowCount(), 0);
        t.tree()->setFocus(); // the keyboard chooses folders too: Down from the root is the Inbox
        QTest::keyClick(t.tree(), Qt::Key_Down);
        QTest::keyClick(t.tree(), Qt::Key_Down);
        QVERIFY(shows(kRecycle, u"Recycle Bin"_s));
        VERIFY_BOXES(t.boxes);
    }

    void moveSelectedFromBottomUp()
    {
        Window t;
        QVERIFY(t.load());
        MessageFolderModel &inbox = t.w.inboxModel();
        MessageFolderModel &recycle = t.w.recycleModel();
        t.fill(inbox, {u"A"_s, u"B"_s, u"C"_s, u"D"_s});
        t.w.ShowInbox();
        t.select(kInbox, {1, 3});
        t.w.menus().mnuMoveToRecycle->trigger();
        QCOMPARE(senders(inbox), (QStringList{u"A"_s, u"C"_s}));
        QCOMPARE(senders(recycle), (QStringList{u"D"_s, u"B"_s}));
        QCOMPARE((QList<int>{recycle.entry(0).number, recycle.entry(1).number}),
                 (QList<int>{4, 2})); // numbers travel along
        QCOMPARE(recycle.entry(1).iconKey, u"recycle"_s);
        QCOMPARE(t.counts(), u"Inbox (2)/Recycle Bin (2)"_s);
        QCOMPARE(t.pane(), paneFor(inbox, t.list(kInbox)->currentIndex().row()));

        t.w.ShowRecycleBin();
        t.select(kRecycle, {0, 1});
        t.w.menus().mnuMoveToInbox->trigger();
        QCOMPARE(senders(inbox), (QStringList{u"A"_s, u"C"_s, u"B"_s, u"D"_s}));
        QCOMPARE(inbox.entry(3).iconKey + QString::number(inbox.entry(3).number), u"inbox4"_s);
        QCOMPARE(t.counts(), u"Inbox (4)/Recycle Bin (0)"_s);
        QCOMPARE(t.pane(), kNoPane);

        // Nothing selected: nothing moves, the counts are refreshed all the same.
        t.w.ShowInbox();
        t.select(kInbox, {});
        t.w.setNodeText(u"Inbox"_s, u"stale"_s);
        t.w.menus().mnuMoveToRecycle->trigger();
        QCOMPARE(t.counts(), u"Inbox (4)/Recycle Bin (0)"_s);
        VERIFY_BOXES(t.boxes);
    }

    void singleRowCommands_data()
    {
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("how");
        QTest::newRow("Inbox double-click") << kInbox << "dblclick";
        QTest::newRow("Inbox Delete key") << kInbox << "key";
        QTest::newRow("Inbox double-click below the rows: current row") << kInbox << "below";
        QTest::newRow("Recycle Bin double-click") << kRecycle << "dblclick";
        QTest::newRow("Recycle Bin Delete key") << kRecycle << "key";
    }

    void singleRowCommands()
    {
        QFETCH(QString, from);
        QFETCH(QString, how);
        Window t;
        QVERIFY(t.load());
        const bool inboxSide = from == kInbox;
        MessageFolderModel &source = inboxSide ? t.w.inboxModel() : t.w.recycleModel();
        MessageFolderModel &target = inboxSide ? t.w.recycleModel() : t.w.inboxModel();
        t.fill(source, {u"one"_s, u"two"_s}, inboxSide ? u"inbox"_s : u"recycle"_s);
        inboxSide ? t.w.ShowInbox() : t.w.ShowRecycleBin();
        QTreeView *view = t.list(from);
        for (int row = 1; row >= 0; --row) { // the last row, then the one left
            const MessageEntry moving = source.entry(row);
            const QPoint at = how == "below"_L1 ? QPoint(20, view->viewport()->height() - 5)
                                                : view->visualRect(source.index(row, 0)).center();
            t.select(from, {row});
            if (how == "key"_L1) {
                view->setFocus();
                QTest::keyClick(view, Qt::Key_Delete, row == 1 ? Qt::ShiftModifier : Qt::NoModifier);
            } else {
                QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, at);
            }
            QCOMPARE(source.count(), row);
            const MessageEntry moved = target.entry(target.count() - 1);
            QCOMPARE(moved.sender + QString::number(moved.number), moving.sender + QString::number(moving.number));
            QCOMPARE(moved.iconKey, inboxSide ? u"recycle"_s : u"inbox"_s);
            QCOMPARE(t.counts(),
                     u"Inbox (%1)/Recycle Bin (%2)"_s.arg(t.w.inboxModel().count()).arg(t.w.recycleModel().count()));
            QCOMPARE(t.visibleLists(), QStringList{from}); // the same list stays shown
            QCOMPARE(t.pane(), paneFor(source, view->currentIndex().row()));
        }
        QCOMPARE(t.pane(), kNoPane);
        VERIFY_BOXES(t.boxes);
    }

    void rightClickDeleteAndDoubleClick()
    {
        Window t;
        QVERIFY(t.load());
        const auto opens = [](QMenu *menu) {
            const bool shown = QTest::qWaitFor([menu] { return menu->isVisible(); }, 5000);
            menu->hide();
            return shown;
        };
        // On an empty message list the Delete key, a double-click and a right click do nothing.
        for (const QString &name : {kInbox, kRecycle}) {
            name == kInbox ? t.w.ShowInbox() : t.w.ShowRecycleBin();
            QWidget *view = t.list(name)->viewport();
            t.list(name)->setFocus();
            QTest::keyClick(t.list(name), Qt::Key_Delete);
            QTest::mouseDClick(view, Qt::LeftButton, {}, QPoint(20, 20));
            QTest::mouseClick(view, Qt::RightButton, {}, QPoint(20, 20));
            QVERIFY(!QApplication::activePopupWidget());
            QCOMPARE(t.counts(), u"Inbox (0)/Recycle Bin (0)"_s);
        }
        // With a row, a right click anywhere in the list opens its menu; the rule
        // lists open theirs whether or not they hold rows.
        t.fill(t.w.recycleModel(), {u"x"_s}, u"recycle"_s);
        QWidget *recycle = t.list(kRecycle)->viewport();
        QTest::mouseClick(recycle, Qt::RightButton, {}, QPoint(30, recycle->height() - 5));
        QVERIFY(opens(t.w.menus().mnuRecycleBinPopup));
        t.w.ShowFilterList();
        QTest::mouseClick(t.list(u"lsvFilter"_s)->viewport(), Qt::RightButton, {}, QPoint(30, 30));
        QVERIFY(opens(t.w.menus().mnuFilterList));
        VERIFY_BOXES(t.boxes);
    }

    void sortByHeader_data()
    {
        QTest::addColumn<int>("column");
        QTest::addColumn<QStringList>("values"); // as appended
        QTest::addColumn<QStringList>("expected"); // after each of two clicks
        QTest::newRow("padded sizes") << int(MessageFolderModel::Size)
                                      << QStringList{u"  100K"_s, u"    9K"_s, u"   10K"_s}
                                      << QStringList{u"    9K"_s, u"   10K"_s, u"  100K"_s};
        const QString d5 = u"Fri, 5 Jan 2024 09:00:00 +0000"_s, d8 = u"Mon, 8 Jan 2024 09:00:00 +0000"_s,
                      d12 = u"Fri, 12 Jan 2024 09:00:00 +0000"_s;
        QTest::newRow("dates by time") << int(MessageFolderModel::Date) << QStringList{d8, d12, d5}
                                       << QStringList{d5, d8, d12};
    }

    void sortByHeader()
    {
        QFETCH(int, column);
        QFETCH(QStringList, values);
        Window t;
        QVERIFY(t.load());
        MessageFolderModel &inbox = t.w.inboxModel();
        for (int i = 0; i < values.size(); ++i) {
            MessageEntry e = entry(u"s%1"_s.arg(i), i + 1);
            e.setText(column, values.at(i));
            inbox.append(e);
        }
        QHeaderView *header = t.list(kInbox)->header();
        for (int click = 0; click < 2; ++click) { // a second click sorts the same way
            QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                              QPoint(header->sectionViewportPosition(column) + 5, header->height() / 2));
            QStringList order;
            for (int i = 0; i < inbox.count(); ++i) {
                order << inbox.entry(i).text(column);
                QCOMPARE(order.last(), values.at(inbox.entry(i).number - 1)); // the number stays with its row
            }
            QTEST(order, "expected");
            QVERIFY(header->sortIndicatorSection() == column && header->sortIndicatorOrder() == Qt::AscendingOrder);
        }
    }

    // The status text, the folder caption and the detail pane's values reach
    // a screen reader as they are shown. (The change events themselves need
    // an accessibility bridge, which the offscreen platform has not.)
    void screenReaderReadsShownTexts()
    {
        Window t;
        QVERIFY(t.load());
        const auto name = [&t](const QString &object) {
            QAccessibleInterface *face = QAccessible::queryAccessibleInterface(t.find(object));
            return face ? face->text(QAccessible::Name) : u"(no interface)"_s;
        };
        t.w.setStatusText(u"Fetched 3 of 12"_s);
        QCOMPARE(name(u"StatusBar1Panel2"_s), u"Fetched 3 of 12"_s);
        t.w.setStatusText(u"Disconnected"_s);
        QCOMPARE(name(u"StatusBar1Panel2"_s), u"Disconnected"_s);
        t.w.ShowRecycleBin();
        QCOMPARE(name(u"lblFolder"_s), u"Recycle Bin"_s);
        t.w.ShowInbox();
        QCOMPARE(name(u"lblFolder"_s), u"Inbox"_s);
        t.fill(t.w.inboxModel(), {u"Eve <eve@example.com>"_s});
        QTreeView *view = t.list(kInbox);
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(view->model()->index(0, 0)).center());
        QCOMPARE(name(u"lblSender"_s), u"Sender: Eve <eve@example.com>"_s);
        QCOMPARE(name(u"lblSize"_s), u"Size: "_s + t.text(u"lblSize"_s).trimmed());
        t.w.ClearMessageDetails();
        QCOMPARE(name(u"lblSender"_s), u"Sender: "_s);
    }

    // Box texts carry senders, rules and server replies: drawn as the
    // characters they are.
    void messageBoxIsPlainText()
    {
        Qt::TextFormat format = Qt::AutoText;
        QString shown;
        QTimer::singleShot(0, this, [&] {
            for (QWidget *w : QApplication::topLevelWidgets()) {
                if (auto *box = qobject_cast<QMessageBox *>(w); box && box->isVisible()) {
                    format = box->textFormat();
                    shown = box->text();
                    box->accept();
                }
            }
        });
        showMessageBoxDialog({u"Rule <b>x</b><img src=\"/etc/hostname\"> added"_s, u"Error"_s,
                              MessageBox::Icon::Critical, MessageBox::Buttons::Ok});
        QCOMPARE(format, Qt::PlainText);
        QCOMPARE(shown, u"Rule <b>x</b><img src=\"/etc/hostname\"> added"_s);
    }

    void detailPaneShowsTextsAsGiven()
    {
        Window t;
        QVERIFY(t.load());
        MessageEntry e = entry(u"<b>Eve</b> <eve@example.com>"_s, 9, u"  120K"_s);
        e.subject = u"A very long subject "_s.repeated(12);
        const QStringList reasons = {u"sender domain under mailer.shop.example seen in 480 of your spam"_s,
                                     u"subject words \u201cact now\u201d seen in 212 of your spam"_s,
                                     u"a subject padded with spaces seen in 71 of your spam"_s};
        e.sortReason = SortReason::learned(SortReason::Verdict::Spam, 97, reasons);
        t.w.inboxModel().append(e);
        t.fill(t.w.inboxModel(), {u"k"_s});
        QTreeView *view = t.list(kInbox);
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(view->model()->index(0, 0)).center());
        QCOMPARE(t.pane(), paneFor(t.w.inboxModel(), 0));
        QCOMPARE(t.pane().first(), u"<b>Eve</b> <eve@example.com>"_s); // never read as markup
        QCOMPARE(t.find<QLabel>(u"lblSender"_s)->textFormat(), Qt::PlainText);
        auto *subject = t.find<QLabel>(u"lblSubject"_s);
        // Cut to its one line with "...", whole in the tooltip; the rule line is below it.
        QVERIFY(subject->textFormat() == Qt::PlainText && subject->text().endsWith(QChar(0x2026)));
        QVERIFY(subject->toolTip().contains(e.subject.trimmed()));
        QVERIFY(subject->geometry().bottom() < t.find(u"lblRule"_s)->y());
        QVERIFY(subject->geometry().right() < t.find(u"picDetail"_s)->width());
        // So is a learned verdict's rule, its reasons and all.
        auto *rule = t.find<QLabel>(u"lblRule"_s);
        QVERIFY2(rule->text().endsWith(QChar(0x2026)), qPrintable(rule->text()));
        QVERIFY(rule->toolTip().contains(reasons.last()));
        QVERIFY(rule->geometry().right() < t.find(u"picDetail"_s)->width());
        QVERIFY(t.accessibleName(u"lblRule"_s).endsWith(reasons.last() + u')'));
        // Arrow keys in the list show each row in the pane.
        view->setFocus();
        QTest::keyClick(view, Qt::Key_Down);
        QCOMPARE(t.pane().first(), u"k"_s);
        QTest::keyClick(view, Qt::Key_Up);
        QCOMPARE(t.pane(), paneFor(t.w.inboxModel(), 0));
    }

    void layoutAtSizes()
    {
        Window t;
        QVERIFY(t.load());
        auto *inbox = t.list(kInbox);
        auto *pane = t.find(u"picDetail"_s);
        // Twips are drawn larger for a larger font, so a size in twips comes
        // back from pixels within a pixel of itself.
        const auto near = [&](int got, int want, int unit) { return std::abs(got - want) <= unit; };
        const auto placed = [&](QList<int> twips) { // all columns, list width and height, buttons' top
            int columns = 0;
            for (int c = 0; c < MessageFolderModel::ColumnCount; ++c)
                columns += inbox->columnWidth(c);
            const QList<int> got{columns, inbox->width(), inbox->height(), t.find(u"cmdExit"_s)->y()};
            for (int i = 0; i < twips.size(); ++i)
                if (!near(got.at(i), t.w.toPixels(twips.at(i)), 2))
                    return false;
            return true;
        };
        const auto outerNear = [&](QSize want) {
            const int unit = qCeil(1440.0 / t.w.logicalDpi()) + 1;
            return near(t.w.outerSizeTwips().width(), want.width(), unit)
                && near(t.w.outerSizeTwips().height(), want.height(), unit);
        };
        t.w.resize(t.w.windowSizeFor(12000, 8700));
        QTRY_VERIFY(outerNear(QSize(12000, 8700)));
        QVERIFY(placed({8850, 9135, 4695, 7200}));
        t.w.resize(t.w.windowSizeFor(1500, 1500)); // too small: held at the smallest size
        QTRY_VERIFY(outerNear(QSize(9720, 6900)));
        QVERIFY(placed({6570, 6855, 2895, 5400}));
        QCOMPARE(t.list(kRecycle)->geometry(), inbox->geometry());
        // A wide size text stays inside the pane, clear of the priority and the date.
        MessageEntry e = entry(u"someone@example.com"_s, 1, u"99999K"_s);
        e.priority = u"non-urgent"_s;
        e.date = u"Mon, 2 Jan 2024 10:00:00 +0100"_s;
        t.w.inboxModel().append(e);
        t.w.ShowMessageDetails(t.w.inboxModel(), 0);
        const QRect size = t.find(u"lblSize"_s)->geometry(), priority = t.find(u"lblPriority"_s)->geometry();
        QVERIFY2(pane->rect().contains(size) && priority.right() < size.x(), "the size runs out of its place");
        QVERIFY(!t.find(u"lblDate"_s)->geometry().intersects(priority));
    }

    void scoreColumnOnRequest()
    {
        using namespace modRegistry;
        Window t;
        // As stored before the Score column: five widths, the Date's set by the user.
        WriteStoreValue(HKEY_CURRENT_USER, kTrelvikKey, u"ColumnWidths"_s, REG_SZ, u"0,0,2500,0,0"_s);
        QVERIFY(t.load());
        auto *inbox = t.list(kInbox);
        QVERIFY(inbox->isColumnHidden(MessageFolderModel::Score));
        QVERIFY(std::abs(inbox->columnWidth(MessageFolderModel::Date) - t.w.toPixels(2500)) <= 2);
        const auto total = [&] {
            int sum = 0;
            for (int c = 0; c < MessageFolderModel::ColumnCount; ++c)
                sum += inbox->columnWidth(c);
            return sum;
        };
        const int before = total(), subject = inbox->columnWidth(MessageFolderModel::Subject);
        const auto pickFromHeaderMenu = [&] {
            QTimer::singleShot(0, &t.w, [] {
                if (QWidget *menu = QApplication::activePopupWidget())
                    QTest::keyClick(menu, Qt::Key_S);
            });
            Q_EMIT inbox->header()->customContextMenuRequested(QPoint(5, 5));
        };
        // Shown in both lists, its room taken from Subject alone, and remembered;
        // showing and hiding it is no width the user set.
        pickFromHeaderMenu();
        QVERIFY(!inbox->isColumnHidden(MessageFolderModel::Score));
        QVERIFY(!t.list(kRecycle)->isColumnHidden(MessageFolderModel::Score));
        QCOMPARE(total(), before);
        QCOMPARE(inbox->columnWidth(MessageFolderModel::Subject),
                 subject - inbox->columnWidth(MessageFolderModel::Score));
        QCOMPARE(ReadStoreValue(HKEY_CURRENT_USER, kTrelvikKey, u"ScoreColumn"_s, {}), u"1"_s);
        auto *fileItem = t.w.findChild<QAction *>(u"mnuScoreColumn"_s);
        QVERIFY(fileItem && fileItem->isChecked());
        pickFromHeaderMenu();
        QVERIFY(inbox->isColumnHidden(MessageFolderModel::Score));
        QVERIFY(!fileItem->isChecked());
        QCOMPARE(inbox->columnWidth(MessageFolderModel::Subject), subject);
        QCOMPARE(ReadStoreValue(HKEY_CURRENT_USER, kTrelvikKey, u"ScoreColumn"_s, {}), u"0"_s);
        QCOMPARE(ReadStoreValue(HKEY_CURRENT_USER, kTrelvikKey, u"ColumnWidths"_s, {}), u"0,0,2500,0,0"_s);
        // The File menu's item, for the keyboard: its S.
        auto *fileMenu = t.find<QMenu>(u"mnuFile"_s);
        fileMenu->popup(t.w.mapToGlobal(QPoint(5, 5)));
        QVERIFY(QTest::qWaitForWindowExposed(fileMenu));
        QTest::keyClick(fileMenu, Qt::Key_S);
        QVERIFY(!inbox->isColumnHidden(MessageFolderModel::Score));
        QCOMPARE(ReadStoreValue(HKEY_CURRENT_USER, kTrelvikKey, u"ScoreColumn"_s, {}), u"1"_s);
    }

    void aboutBox_data()
    {
        QTest::addColumn<int>("key"); // 0: a click on the picture
        QTest::addColumn<bool>("closes");
        QTest::newRow("Esc") << int(Qt::Key_Escape) << true;
        QTest::newRow("click on the picture") << 0 << true;
        QTest::newRow("Enter") << int(Qt::Key_Return) << false;
        QTest::newRow("letter") << int(Qt::Key_A) << false;
    }

    void aboutBox()
    {
        QFETCH(int, key);
        Window t;
        QVERIFY(t.load());
        bool seen = false, stillOpen = false;
        QString name;
        int width = 0, expectedWidth = 0;
        QTimer::singleShot(0, &t.w, [&] {
            auto *box = qobject_cast<QDialog *>(QApplication::activeModalWidget());
            if (!box)
                return;
            seen = true;
            name = box->findChild<QLabel *>(u"lblPrgNam"_s)->text();
            width = box->width(); // the notice line plus 2000 twips
            expectedWidth = box->findChild<QLabel *>(u"lblCopyright"_s)->width() + t.w.toPixels(2000);
            if (key == 0)
                QTest::mouseClick(box->findChild<QWidget *>(u"imgGlass"_s), Qt::LeftButton, {}, QPoint(5, 5));
            else
                QTest::keyClick(box, Qt::Key(key));
            stillOpen = box->isVisible();
            if (stillOpen)
                box->reject();
        });
        t.w.menus().mnuHelpAbout->trigger();
        QVERIFY(seen);
        QCOMPARE(name, u"Trelvik 3.4"_s);
        QCOMPARE(width, expectedWidth);
        QTEST(!stillOpen, "closes");
    }

    void ruleCommandsThroughMenus()
    {
        Window t;
        QVERIFY(t.load());
        MessageFolderModel &inbox = t.w.inboxModel();
        t.fill(inbox, {u"x@spam.example"_s, u"y@ok.example"_s, u"X@SPAM.example"_s, u"z@spam.example"_s});
        t.select(kInbox, {0});
        t.w.menus().mnuAddSenderToFilter1->trigger();
        QVERIFY(t.filtered(u"x@spam.example"_s));
        // Both spellings go, last row first; z's domain stays until a rule names it.
        QCOMPARE(senders(inbox), (QStringList{u"y@ok.example"_s, u"z@spam.example"_s}));
        QCOMPARE(senders(t.w.recycleModel()), (QStringList{u"X@SPAM.example"_s, u"x@spam.example"_s}));
        QCOMPARE(t.counts(), u"Inbox (2)/Recycle Bin (2)"_s);
        QCOMPARE(t.w.recycleModel().entry(0).sortReason.text(), u"x@spam.example (Filter List)"_s);
        // A filter rule made in the Recycle Bin re-checks the Inbox too.
        t.w.ShowRecycleBin();
        t.select(kRecycle, {1});
        t.w.menus().mnuAddDomainToFilter2->trigger();
        QVERIFY(t.filtered(u"*@spam.example"_s));
        QCOMPARE(senders(inbox), (QStringList{u"y@ok.example"_s}));
        QCOMPARE(t.w.recycleModel().count(), 3);
        QCOMPARE(t.text(u"StatusBar1Panel2"_s), u"1 message moved to the Recycle Bin"_s);
        t.w.menus().mnuRemoveDomainFromFilter->trigger();
        QVERIFY(!t.filtered(u"*@spam.example"_s));
        VERIFY_BOXES(t.boxes);
    }

    // The pane says why the current row is where it is: the rule the fetch
    // matched, none, or the user's hand; a screen reader hears it too.
    void ruleLineAfterFetchAndMove()
    {
        Window t;
        QVERIFY(t.load());
        t.w.ruleLists().AddFilter(u"*@spam.example"_s);
        t.w.ruleLists().AddExempted(u"List-Id: *project*"_s);
        testsupport::ScriptedPop3Server server;
        QVERIFY(server.listen());
        server.greet()
            .login()
            .stat(3)
            .uidl({"a", "b", "c"})
            .listAll({100, 100, 100})
            .top(1, "From: \"support@bank.example\" <win@spam.example>\r\n")
            .top(2, "From: bob@ok.example\r\n")
            .top(3, "From: dev@spam.example\r\nList-Id: Project <project.lists.example>\r\n")
            .quit();
        t.w.currentProfile().settings() = {};
        t.w.currentProfile().settings().EmailHost = u"127.0.0.1"_s;
        t.w.currentProfile().settings().EmailPort = QString::number(server.port());
        t.w.currentProfile().settings().EmailUserid = u"user"_s;
        t.w.currentProfile().settings().EmailPassword = u"secret"_s;
        t.w.cmdFetch_Click();
        VERIFY_SCRIPT(server);
        QCOMPARE(senders(t.w.inboxModel()), (QStringList{u"bob@ok.example"_s, u"dev@spam.example"_s}));
        // The end says what the fetch brought, to a screen reader too (the
        // window announces the status text once a run ends).
        const QString fetched = u"Fetched 3 messages: 2 in the Inbox, 1 in the Recycle Bin"_s;
        QCOMPARE(t.text(u"StatusBar1Panel2"_s), fetched);
        QCOMPARE(t.accessibleName(u"StatusBar1Panel2"_s), fetched);
        t.clickRow(kInbox, 0);
        QCOMPARE(t.rule(), u"No rule matched"_s);
        t.clickRow(kInbox, 1);
        QCOMPARE(t.rule(), u"List-Id: *project* (Exempted List)"_s);
        QCOMPARE(t.accessibleName(u"lblRule"_s), u"Rule: List-Id: *project* (Exempted List)"_s);
        t.clickNode(u"Recycle Bin"_s);
        t.clickRow(kRecycle, 0);
        QCOMPARE(t.rule(), u"*@spam.example (Filter List)"_s);
        // Moved back by hand: the pane says so at once.
        QTest::mouseDClick(t.list(kRecycle)->viewport(), Qt::LeftButton, {},
                           t.list(kRecycle)->visualRect(t.list(kRecycle)->model()->index(0, 0)).center());
        t.clickNode(u"Inbox"_s);
        const int moved = int(senders(t.w.inboxModel()).indexOf(u"\"support@bank.example\" <win@spam.example>"_s));
        QVERIFY(moved >= 0);
        t.clickRow(kInbox, moved);
        QCOMPARE(t.rule(), u"Moved by hand"_s);
        QCOMPARE(t.accessibleName(u"lblRule"_s), u"Rule: Moved by hand"_s);
        t.w.ClearMessageDetails();
        QCOMPARE(t.rule(), QString());
        VERIFY_BOXES(t.boxes);
    }

    void serverSpamMarks()
    {
        Window t;
        QVERIFY(t.load());
        t.w.ruleLists().AddFilter(u"x-spam-flag: yes"_s); // already there in another case
        t.w.ruleLists().AddExempted(u"boss@work.example"_s);
        const QList<QPair<QString, QString>> mail{
            {u"a@one.example"_s, u"X-Spam-Flag: YES\r\n"_s},
            {u"b@two.example"_s, u"X-Spam-Status: Yes, score=7.1 required=5.0\r\n\ttests=BAYES_99 autolearn=no\r\n"_s},
            {u"c@three.example"_s, u"X-Spam: yes\r\n"_s},
            {u"d@four.example"_s, u"X-Spam-Status: No, score=0.3 required=5.0\r\nX-Spam-Flag: NO\r\n"_s},
            {u"e@five.example"_s, u"X-Spam-Level: ***\r\nX-Spam-Report: Yes\r\nSubject: Yes\r\n"_s},
            {u"boss@work.example"_s, u"X-Spam-Flag: YES\r\n"_s}};
        for (const auto &[sender, header] : mail) {
            MessageEntry e = entry(sender, t.w.inboxModel().count() + 1);
            e.setHeaderBlock((u"From: "_s + sender + u"\r\n"_s + header).toLatin1());
            t.w.inboxModel().append(e);
        }
        t.clickNode(u"Filter List"_s);
        t.w.menus().mnuFilterSpamMarks->trigger();
        QCOMPARE(t.text(u"StatusBar1Panel2"_s),
                 u"2 server spam marks added to the Filter List; 3 messages moved to the Recycle Bin"_s);
        QCOMPARE(senders(t.w.inboxModel()),
                 (QStringList{u"d@four.example"_s, u"e@five.example"_s, u"boss@work.example"_s}));
        QCOMPARE(t.w.ruleLists().filterModel()->rowCount(), 3);
        t.w.menus().mnuFilterSpamMarks->trigger();
        QCOMPARE(t.text(u"StatusBar1Panel2"_s), u"The Filter List already holds the server spam marks"_s);
        QCOMPARE(t.w.ruleLists().filterModel()->rowCount(), 3);
        VERIFY_BOXES(t.boxes);
    }

    // Import sorts the messages again as the rule commands do; a file that
    // cannot be read or written says so and changes nothing.
    void importAndExportRules()
    {
        Window t;
        QVERIFY(t.load());
        t.w.ruleLists().AddFilter(u"*@spam.example"_s);
        t.fill(t.w.inboxModel(), {u"x@bulk.example"_s, u"news@shop.example"_s});
        t.fill(t.w.recycleModel(), {u"friend@spam.example"_s}, u"recycle"_s);
        const QString path = t.home.appDataFolder() + u"/in.txt"_s;
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("# mine\nfilter *@*.example\nfilter *@SPAM.example\nbogus line\nexempt news@shop.example\n"
                   "exempt friend@spam.example\n");
        file.close();
        t.boxes.expect(u"Rules imported from \""_s + QDir::toNativeSeparators(path)
                           + u"\":\r\n"
                             "3 rules added, 1 already present, 1 refused (line 4: \"bogus line\": "
                             "the line starts with neither \"filter\" nor \"exempt\")"_s,
                       u"Import Rules"_s, MessageBox::Icon::Exclamation);
        t.w.importRulesFrom(path);
        QCOMPARE(t.text(u"StatusBar1Panel2"_s),
                 u"3 rules imported; 1 message moved to the Recycle Bin; 1 message moved to the Inbox"_s);
        QCOMPARE(senders(t.w.inboxModel()), (QStringList{u"news@shop.example"_s, u"friend@spam.example"_s}));
        QCOMPARE(senders(t.w.recycleModel()), QStringList{u"x@bulk.example"_s});
        // The pane shows the list on screen, not the other one sorted again.
        QVERIFY(t.list(kInbox)->isVisible());
        QCOMPARE(t.accessibleName(u"lblSender"_s),
                 u"Sender: "_s + t.w.inboxModel().entry(t.list(kInbox)->currentIndex().row()).sender);

        t.boxes.expect(u"Cannot read \""_s + path + u".missing\": No such file or directory"_s, u"Import Rules"_s,
                       MessageBox::Icon::Critical);
        t.w.importRulesFrom(path + u".missing"_s);
        QCOMPARE(t.w.recycleModel().count(), 1);

        const QString out = t.home.appDataFolder() + u"/out.txt"_s;
        QVERIFY(t.w.exportRulesTo(out));
        QCOMPARE(t.text(u"StatusBar1Panel2"_s), u"Rules exported to "_s + QDir::toNativeSeparators(out));
        QFile written(out);
        QVERIFY(written.open(QIODevice::ReadOnly));
        QVERIFY(written.readAll().contains("exempt friend@spam.example\n"));
        const QString nowhere = t.home.appDataFolder() + u"/no/such/folder.txt"_s;
        t.boxes.expect(u"Cannot write \""_s + nowhere + u"\": No such file or directory\r\nNo rule was exported."_s,
                       u"Export Rules"_s, MessageBox::Icon::Critical);
        QVERIFY(!t.w.exportRulesTo(nowhere));
        VERIFY_BOXES(t.boxes);
    }

    void fetchedText_data()
    {
        QTest::addColumn<int>("inbox");
        QTest::addColumn<int>("recycleBin");
        QTest::addColumn<QString>("text");
        QTest::newRow("many") << 40 << 5 << "Fetched 45 messages: 40 in the Inbox, 5 in the Recycle Bin";
        QTest::newRow("one, kept") << 1 << 0 << "Fetched 1 message: 1 in the Inbox, 0 in the Recycle Bin";
        QTest::newRow("one, in the bin") << 0 << 1 << "Fetched 1 message: 0 in the Inbox, 1 in the Recycle Bin";
        QTest::newRow("none") << 0 << 0 << "Fetched 0 messages: the mailbox is empty";
    }
    void fetchedText()
    {
        QFETCH(int, inbox);
        QFETCH(int, recycleBin);
        QTEST(frmMain::fetchedText(inbox, recycleBin), "text");
    }

    // A fetch that fails says nothing of messages fetched.
    void failedFetchClaimsNothing()
    {
        Window t;
        QVERIFY(t.load());
        QTcpServer probe; // a port nobody listens on
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        t.w.currentProfile().settings() = {};
        t.w.currentProfile().settings().EmailHost = u"127.0.0.1"_s;
        t.w.currentProfile().settings().EmailPort = QString::number(probe.serverPort());
        t.w.currentProfile().settings().EmailUserid = u"user"_s;
        t.w.currentProfile().settings().EmailPassword = u"secret"_s;
        probe.close();
        t.w.cmdFetch_Click();
        QCOMPARE(t.boxes.shown().size(), 1);
        // After the box the status bar still says what went wrong.
        const QString why = t.boxes.shown().constFirst().text.section(u'\n', 0, 0).trimmed();
        QCOMPARE(t.text(u"StatusBar1Panel2"_s), u"Fetch failed: "_s + why);
    }

    // The pane shows a message that is there: whatever takes its row away
    // clears it (and what a screen reader reads); a row that stays keeps it.
    void paneFollowsItsRow_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("cleared");
        QTest::newRow("its row deleted, as Empty Recycle Bin does") << "remove shown" << true;
        QTest::newRow("another row deleted") << "remove other" << false;
        QTest::newRow("the list cleared, as a new fetch does") << "clear" << true;
        QTest::newRow("the list sorted: the row moves") << "sort" << false;
    }
    void paneFollowsItsRow()
    {
        QFETCH(QString, change);
        QFETCH(bool, cleared);
        Window t;
        QVERIFY(t.load());
        MessageFolderModel &recycle = t.w.recycleModel();
        t.fill(recycle, {u"c"_s, u"b"_s, u"a"_s}, u"recycle"_s);
        t.w.ShowRecycleBin();
        t.clickRow(kRecycle, 0);
        QCOMPARE(t.pane().first(), u"c"_s);
        // As while the deletion's dialog is up: the list has not the focus.
        t.tree()->setFocus();
        if (change == "remove shown"_L1)
            recycle.removeAt(0);
        else if (change == "remove other"_L1)
            recycle.removeAt(2);
        else if (change == "clear"_L1)
            recycle.clear();
        else
            recycle.sort(MessageFolderModel::Sender, Qt::AscendingOrder);
        QCOMPARE(t.pane().first(), cleared ? QString() : u"c"_s);
        QCOMPARE(t.accessibleName(u"lblSender"_s), cleared ? u"Sender: "_s : u"Sender: c"_s);
        VERIFY_BOXES(t.boxes);
    }

    // The main buttons answer their mnemonics and the usual keys.
    void keysPressTheButtons_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QKeySequence>("keys");
        QTest::newRow("Alt+I: Fetch Inbox") << "cmdFetch" << QKeySequence(Qt::ALT | Qt::Key_I);
        QTest::newRow("F5: Fetch Inbox") << "cmdFetch" << QKeySequence(Qt::Key_F5);
        QTest::newRow("Alt+E: Empty Recycle Bin") << "cmdConfirm" << QKeySequence(Qt::ALT | Qt::Key_E);
        QTest::newRow("Alt+X: Exit") << "cmdExit" << QKeySequence(Qt::ALT | Qt::Key_X);
        QTest::newRow("Alt+N: New profile") << "cmdNewProfile" << QKeySequence(Qt::ALT | Qt::Key_N);
        QTest::newRow("Ctrl+N: New profile") << "cmdNewProfile" << QKeySequence(Qt::CTRL | Qt::Key_N);
        QTest::newRow("Alt+D: Delete profile") << "cmdDeleteProfile" << QKeySequence(Qt::ALT | Qt::Key_D);
        QTest::newRow("Alt+S: Setting") << "cmdSetting" << QKeySequence(Qt::ALT | Qt::Key_S);
    }
    void keysPressTheButtons()
    {
        QFETCH(QString, button);
        QFETCH(QKeySequence, keys);
        Window t;
        addProfile(u"Home"_s);
        QVERIFY(t.load());
        QVERIFY(QTest::qWaitForWindowActive(&t.w));
        auto *b = t.find<QPushButton>(button);
        QVERIFY(b && b->isEnabled());
        QObject::disconnect(b, &QAbstractButton::clicked, nullptr, nullptr); // seen, not run
        QSignalSpy pressed(b, &QAbstractButton::clicked);
        t.tree()->setFocus();
        QTest::keySequence(&t.w, keys);
        QTRY_COMPARE(pressed.count(), 1);
        // Off means off: a key does not press a disabled button.
        b->setEnabled(false);
        QTest::keySequence(&t.w, keys);
        QCOMPARE(pressed.count(), 1);
    }

    // No two of the window's mnemonics (menu bar and buttons) share a letter.
    void mnemonicsDoNotClash()
    {
        Window t;
        QVERIFY(t.load());
        QStringList captions;
        for (QAction *a : t.w.menuBar()->actions())
            captions << a->text();
        for (QPushButton *b : t.w.findChildren<QPushButton *>())
            captions << b->text();
        QSet<QChar> letters;
        for (const QString &caption : captions) {
            const qsizetype at = caption.indexOf(u'&');
            if (at < 0 || at + 1 >= caption.size())
                continue;
            QVERIFY2(!letters.contains(caption.at(at + 1).toLower()), qPrintable(caption));
            letters.insert(caption.at(at + 1).toLower());
        }
        QVERIFY(letters.size() >= 8); // File, Help and the six buttons
    }

    // Reset Learning forgets the current profile's lessons once the user
    // says Yes, and no other profile's; deleting a profile forgets its own,
    // so that a new profile of that name starts from nothing.
    void learningIsForgottenOnTheUsersWord()
    {
        Window t;
        addProfile(u"Home"_s);
        addProfile(u"Work"_s);
        QVERIFY(t.load());
        const auto learned = [&t](const QString &profile) {
            Learner learner(t.w.ruleDatabase(), profile);
            return learner.load(nullptr) ? int(learner.model().spamMessages() + learner.model().hamMessages()) : -1;
        };
        for (const QString &profile : {u"Home"_s, u"Work"_s}) {
            Learner learner(t.w.ruleDatabase(), profile);
            QVERIFY(learner.load(nullptr)
                    && learner.teach("From: a@prizes.example\r\nSubject: You won\r\n\r\n", true, nullptr));
        }
        // What the verdicts placed goes with them: no learned spam is left for the Empty.
        t.fill(t.w.inboxModel(), {u"kept@good.example"_s});
        t.fill(t.w.recycleModel(), {u"judged@bulk.example"_s, u"ruled@spam.example"_s}, u"recycle"_s);
        t.w.inboxModel().setSortReason(0, SortReason::learned(SortReason::Verdict::Good, 3, {}));
        t.w.recycleModel().setSortReason(0, SortReason::learned(SortReason::Verdict::Spam, 99, {}));
        const QString question = u"Forget everything the profile 'Work' has learned from your decisions? Its rules "
                                 "stay; its learned verdicts start again from nothing."_s;
        t.boxes.expect(question, u"Reset Learning"_s, MessageBox::Icon::Question, MessageBox::Result::No);
        t.find<QAction>(u"mnuResetLearning"_s)->trigger();
        QCOMPARE(learned(u"Work"_s), 1);
        QCOMPARE(t.w.recycleModel().count(), 2);
        t.boxes.expect(question, u"Reset Learning"_s, MessageBox::Icon::Question, MessageBox::Result::Yes);
        t.find<QAction>(u"mnuResetLearning"_s)->trigger();
        VERIFY_BOXES(t.boxes);
        QCOMPARE(learned(u"Work"_s), 0);
        QCOMPARE(learned(u"Home"_s), 1);
        QCOMPARE(senders(t.w.recycleModel()), QStringList{u"ruled@spam.example"_s});
        QCOMPARE(senders(t.w.inboxModel()), (QStringList{u"kept@good.example"_s, u"judged@bulk.example"_s}));
        for (int row = 0; row < 2; ++row)
            QCOMPARE(t.w.inboxModel().entry(row).sortReason.kind, SortReason::Kind::NoRule);
        QCOMPARE(t.text(u"StatusBar1Panel2"_s),
                 u"The profile 'Work' forgot what it had learned; 1 message the "
                 "learning had put in the Recycle Bin is back in the Inbox"_s);
        t.w.recycleModel().clear(); // nothing waits to be removed when the profile changes

        t.find<QComboBox>(u"cboProfile"_s)->setCurrentText(u"Home"_s);
        t.boxes.expect(u"Confirm Delete 'Home'"_s, u"Delete Profile"_s, MessageBox::Icon::None,
                       MessageBox::Result::Yes);
        t.find<QPushButton>(u"cmdDeleteProfile"_s)->click();
        VERIFY_BOXES(t.boxes);
        QCOMPARE(learned(u"Home"_s), 0);
    }

    // The lists' lessons go where their fetch's verdicts came from: a move
    // back after the profile began sharing takes the move's lesson back,
    // and teaches no pool the opposite.
    void movesTeachThePoolTheirFetchUsed()
    {
        Window t;
        addProfile(u"Work"_s);
        QVERIFY(t.load());
        testsupport::ScriptedPop3Server server;
        QVERIFY(server.listen());
        server.greet().login().stat(1).uidl({"u-7f"}).listAll({100}).top(1, "From: bob@ok.example\r\n").quit();
        ProfileSettingsRecord settings;
        settings.EmailHost = u"127.0.0.1"_s;
        settings.EmailPort = QString::number(server.port());
        settings.EmailUserid = u"user"_s;
        settings.EmailPassword = u"secret"_s;
        t.w.currentProfile().settings() = settings;
        t.w.cmdFetch_Click();
        VERIFY_SCRIPT(server);
        const auto lessons = [&t](const QString &pool) {
            Learner learner(t.w.ruleDatabase(), pool);
            return learner.load(nullptr) ? int(learner.model().spamMessages() + learner.model().hamMessages()) : -1;
        };
        t.select(kInbox, {0});
        t.w.menus().mnuMoveToRecycle->trigger();
        QCOMPARE(lessons(u"Work"_s), 1);
        settings.ShareLearning = u"1"_s;
        t.w.currentProfile().set(u"Work"_s, settings);
        t.select(kRecycle, {0});
        t.w.menus().mnuMoveToInbox->trigger();
        QCOMPARE(lessons(u"Work"_s), 0);
        QCOMPARE(lessons(u"\\shared"_s), 0);
    }

    // After an import only the moves that happened are named.
    void importNamesOnlyWhatMoved_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("status");
        QTest::newRow("filter moves one, exempt none back")
            << QByteArray("filter *@bulk.example\nexempt nobody@nowhere.example\n")
            << "2 rules imported; 1 message moved to the Recycle Bin";
        QTest::newRow("exempt brings one back, filter none")
            << QByteArray("filter *@nowhere.example\nexempt friend@spam.example\n")
            << "2 rules imported; 1 message moved to the Inbox";
        QTest::newRow("both move")
            << QByteArray("filter *@bulk.example\nexempt friend@spam.example\n")
            << "2 rules imported; 1 message moved to the Recycle Bin; 1 message moved to the Inbox";
        QTest::newRow("nothing moves") << QByteArray("filter *@nowhere.example\nexempt a@nowhere.example\n")
                                       << "2 rules imported; No message moved";
    }
    void importNamesOnlyWhatMoved()
    {
        QFETCH(QByteArray, file);
        Window t;
        QVERIFY(t.load());
        t.w.ruleLists().AddFilter(u"*@spam.example"_s);
        t.fill(t.w.inboxModel(), {u"x@bulk.example"_s});
        t.fill(t.w.recycleModel(), {u"friend@spam.example"_s}, u"recycle"_s);
        const QString path = t.home.appDataFolder() + u"/rules.txt"_s;
        QFile out(path);
        QVERIFY(out.open(QIODevice::WriteOnly) && out.write(file) == file.size());
        out.close();
        t.w.importRulesFrom(path);
        QTEST(t.text(u"StatusBar1Panel2"_s), "status");
    }

    void deleteSelectedRules()
    {
        Window t;
        QVERIFY(t.load());
        const QStringList rules{u"a@x"_s, u"b@x"_s, u"c@x"_s, u"d@x"_s};
        for (const QString &rule : rules)
            t.w.ruleLists().AddFilter(rule);
        t.clickNode(u"Filter List"_s);
        QStandardItemModel *model = t.w.ruleLists().filterModel();
        QCOMPARE(model->rowCount(), 4);
        t.select(u"lsvFilter"_s, {1, 3});
        t.w.menus().mnuFilterDelete->trigger();
        t.select(u"lsvFilter"_s, {}); // nothing selected: nothing goes
        t.w.menus().mnuFilterDelete->trigger();
        QCOMPARE(model->rowCount(), 2);
        QCOMPARE(model->index(0, 0).data().toString() + u' ' + model->index(1, 0).data().toString(), u"a@x c@x"_s);
        QVERIFY(!t.filtered(u"b@x"_s) && !t.filtered(u"d@x"_s) && t.filtered(u"a@x"_s) && t.filtered(u"c@x"_s));
        VERIFY_BOXES(t.boxes);
    }
};

QTEST_MAIN(TestFrmMain)
#include "tst_frmmain.moc"
