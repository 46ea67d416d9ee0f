// The window as a person meets it: at the desktop's font sizes, in a dark
// colour scheme, by keyboard alone and on first start. Run a second time at
// QT_SCALE_FACTOR=2 (see CMakeLists.txt).
#include "CurrentProfile.h"
#include "Dialer.h"
#include "ProfileRecord.h"
#include "HelpWindow.h"
#include "ListViewWidget.h"
#include "MessageBoxDialog.h"
#include "MessageFolderModel.h"
#include "Profile.h"
#include "RuleLists.h"
#include "SettingsStore.h"
#include "TestSupport.h"
#include "DeletionHistoryModel.h"
#include "frmAbout.h"
#include "frmDeletionHistory.h"
#include "frmMain.h"
#include "frmNewProfile.h"
#include "CancelFlag.h"
#include "frmProgress.h"
#include "frmSetting.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStyleOptionButton>
#include <QTableView>
#include <QTreeView>
#include <QTreeWidget>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

class NoDialer : public Dialer {
public:
    void DialUp(const ProfileSettingsRecord &, CancelFlag &) override { }
    void HangUp() override { }
};

MessageEntry message(const QString &sender, int number)
{
    MessageEntry e;
    e.sender = sender;
    e.subject = u"About "_s + sender;
    e.date = u"Mon, 28 Dec 2026 22:58:00 +0000"_s;
    e.priority = u"3"_s;
    e.size = u"  123K"_s;
    e.number = number;
    e.iconKey = u"inbox"_s;
    return e;
}

void addProfile(const QString &name)
{
    using namespace modRegistry;
    WriteStoreValue(HKEY_CURRENT_USER, kSettingKeyPrefix + name, u"EmailHost"_s, REG_SZ, u"pop.example"_s);
    WriteStoreValue(HKEY_CURRENT_USER, kTrelvikKey, u"LastProfile"_s, REG_SZ, name);
}

// Every text of the widget's visible buttons, check boxes and one-line labels
// that its control cannot show whole, as "name: text".
QStringList cutTexts(QWidget *root)
{
    QStringList cut;
    for (QWidget *w : root->findChildren<QWidget *>()) {
        if (!w->isVisibleTo(root) || w->width() == 0)
            continue;
        const QFontMetrics fm(w->font());
        if (auto *b = qobject_cast<QPushButton *>(w)) {
            QStyleOptionButton opt;
            opt.initFrom(b);
            opt.text = b->text();
            const QRect room = b->style()->subElementRect(QStyle::SE_PushButtonContents, &opt, b);
            QString shown = b->text();
            shown.remove(u'&');
            if (fm.horizontalAdvance(shown) > room.width() || fm.height() > room.height())
                cut << b->objectName() + u": "_s + b->text();
        } else if (auto *c = qobject_cast<QCheckBox *>(w)) {
            if (c->sizeHint().width() > c->width())
                cut << c->objectName() + u": "_s + c->text();
        } else if (auto *l = qobject_cast<QLabel *>(w)) {
            if (!l->text().isEmpty() && !l->wordWrap()
                && (l->sizeHint().width() > l->width() || fm.height() > l->height()))
                cut << l->objectName() + u": "_s + l->text();
        }
    }
    return cut;
}

// A fresh window on a private home, shown.
struct Window {
    testsupport::TempHome home;
    testsupport::MessageBoxRecorder boxes;
    std::unique_ptr<frmMain> w;
    explicit Window(const QStringList &profiles = {u"Home"_s})
    {
        for (const QString &p : profiles)
            addProfile(p);
        w = std::make_unique<frmMain>(home.appDataFolder(), std::make_unique<NoDialer>());
    }
    bool load() { return w->Form_Load() && (w->show(), QTest::qWaitForWindowExposed(w.get())); }
    template <typename T = QWidget>
    T *find(const QString &name)
    {
        return w->findChild<T *>(name);
    }
    ListViewWidget *list(const QString &name) { return find<ListViewWidget>(name); }
};

// The modal widget that opens next, handed to `act` from the event loop.
template <typename F>
void whenModal(F act)
{
    QTimer::singleShot(0, qApp, [act] {
        QTRY_VERIFY(QApplication::activeModalWidget());
        act(QApplication::activeModalWidget());
    });
}

} // namespace

class TestReadable : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // A dark scheme darkens the bands and About; the light text reads on them.
    void darkSchemeReachesListsAndAbout()
    {
        QPalette dark;
        dark.setColor(QPalette::Base, QColor(0x20, 0x20, 0x20));
        dark.setColor(QPalette::AlternateBase, QColor(0x30, 0x30, 0x30));
        dark.setColor(QPalette::Text, QColor(0xF0, 0xF0, 0xF0));
        dark.setColor(QPalette::Window, QColor(0x28, 0x28, 0x28));
        dark.setColor(QPalette::WindowText, QColor(0xF0, 0xF0, 0xF0));
        const QPalette before = QApplication::palette();
        const auto restore = qScopeGuard([&before] { QApplication::setPalette(before); });
        QApplication::setPalette(dark);
        // Light pixels (the text) few but present on a mostly dark picture.
        const auto darkWithText = [](const QImage &image, const QString &what) {
            int darkPixels = 0, light = 0;
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x)
                    (qGray(image.pixel(x, y)) < 128 ? darkPixels : light) += 1;
            QVERIFY2(light > 10 && darkPixels > light,
                     qPrintable(u"%1: %2 dark, %3 light pixels"_s.arg(what).arg(darkPixels).arg(light)));
        };
        Window t;
        QVERIFY(t.load());
        t.w->inboxModel().append(message(u"WWWWWWWWWWWW"_s, 1));
        t.w->inboxModel().append(message(u"MMMMMMMMMMMM"_s, 2));
        ListViewWidget *inbox = t.list(u"lsvInbox"_s);
        inbox->selectionModel()->clear();
        for (int row : {0, 1}) { // first band, then second band
            darkWithText(inbox->viewport()->grab(inbox->visualRect(inbox->model()->index(row, 0))).toImage(),
                         u"row %1"_s.arg(row));
            if (QTest::currentTestFailed())
                return;
        }
        // The two bands still differ.
        const QPalette bands = inbox->palette();
        QVERIFY(bands.color(QPalette::Base) != bands.color(QPalette::AlternateBase));
        frmAbout about;
        about.show();
        QVERIFY(QTest::qWaitForWindowExposed(&about));
        darkWithText(about.grab().toImage(), u"About"_s);
    }

    void nothingCut_data()
    {
        QTest::addColumn<int>("points");
        QTest::addColumn<QString>("locale");
        QTest::newRow("9 pt, C") << 9 << "C";
        QTest::newRow("10 pt, en_US") << 10 << "en_US";
        QTest::newRow("11 pt, en_US") << 11 << "en_US";
        QTest::newRow("11 pt, C") << 11 << "C";
    }

    void nothingCut()
    {
        QFETCH(int, points);
        QFETCH(QString, locale);
        const QFont before = QApplication::font();
        QFont font(u"DejaVu Sans"_s);
        font.setPointSize(points);
        QApplication::setFont(font);
        QLocale::setDefault(QLocale(locale));
        Window t;
        // Every column shown, the Score's too.
        modRegistry::WriteStoreValue(modRegistry::HKEY_CURRENT_USER, kTrelvikKey, u"ScoreColumn"_s, modRegistry::REG_SZ,
                                     u"1"_s);
        QVERIFY(t.load());
        t.w->inboxModel().append(message(u"Account Security <x@paypa1-verify.example>"_s, 1));
        QCOMPARE(cutTexts(t.w.get()), QStringList());
        // Column headers, the widest compact date, the folder names and a row.
        for (const QString &name : {u"lsvInbox"_s, u"lsvFilter"_s}) {
            QTreeView *view = t.list(name);
            const QFontMetrics header(view->header()->font());
            for (int c = 0; c < view->model()->columnCount(); ++c) {
                const QString title = view->model()->headerData(c, Qt::Horizontal).toString();
                QVERIFY2(header.horizontalAdvance(title) + 8 <= view->columnWidth(c), qPrintable(title));
            }
        }
        QTreeView *inbox = t.list(u"lsvInbox"_s);
        const QFontMetrics row(inbox->font());
        for (const QString &date : MessageFolderModel::compactDateSamples())
            QVERIFY2(row.horizontalAdvance(date) + 8 <= inbox->columnWidth(MessageFolderModel::Date), qPrintable(date));
        QVERIFY(inbox->visualRect(inbox->model()->index(0, 0)).height() >= row.height());
        auto *tree = t.find<QTreeWidget>(u"TreeView"_s);
        QVERIFY(tree->header()->sectionSize(0) <= tree->viewport()->width());
        // The dialogs too.
        CurrentProfile profile;
        profile.setName(u"Home"_s);
        frmSetting setting(profile, t.w.get());
        frmNewProfile newProfile({}, t.w.get());
        frmAbout about(t.w.get(), t.w->logicalDpi());
        for (QDialog *dialog : std::initializer_list<QDialog *>{&setting, &newProfile, &about}) {
            dialog->show();
            QVERIFY(QTest::qWaitForWindowExposed(dialog));
            QCOMPARE(cutTexts(dialog), QStringList());
            // No minimise or maximise on any dialog.
            QVERIFY(!(dialog->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
            dialog->hide();
        }
        QApplication::setFont(before);
        QLocale::setDefault(QLocale::c());
    }

    // The list or tree that has the keyboard marks its current row with a
    // dark ring that reads on the bands and on the selection colour; the
    // others do not.
    void focusIsPlainToSee()
    {
        Window t;
        QVERIFY(t.load());
        QVERIFY(QTest::qWaitForWindowActive(t.w.get()));
        t.w->inboxModel().append(message(u"a@example.com"_s, 1));
        t.w->inboxModel().append(message(u"b@example.com"_s, 2));
        ListViewWidget *inbox = t.list(u"lsvInbox"_s);
        auto *tree = t.find<QTreeWidget>(u"TreeView"_s);
        inbox->selectRow(0);
        // The share of dark pixels on the second pixel line of a row, where the ring runs.
        const auto ringShare = [](QAbstractItemView *view, QRect row) {
            const QImage line = view->viewport()->grab(QRect(row.x() + 4, row.y() + 1, row.width() - 8, 1)).toImage();
            int dark = 0;
            for (int x = 0; x < line.width(); ++x)
                dark += qGray(line.pixel(x, 0)) < 64;
            return line.width() > 0 ? double(dark) / line.width() : 0.0;
        };
        const auto inboxRow = [inbox] {
            const QRect cell = inbox->visualRect(inbox->model()->index(0, 0));
            return QRect(0, cell.y(), inbox->viewport()->width(), cell.height());
        };
        const auto treeRow = [tree] { return tree->visualRect(tree->currentIndex()); };
        for (QWidget *focused : std::initializer_list<QWidget *>{inbox, tree}) {
            focused->setFocus();
            QTRY_VERIFY(focused->hasFocus());
            const double inboxShare = ringShare(inbox, inboxRow()), treeShare = ringShare(tree, treeRow());
            const QString got = u"inbox %1, tree %2"_s.arg(inboxShare).arg(treeShare);
            QVERIFY2(focused == inbox ? inboxShare > 0.9 && treeShare < 0.2 : treeShare > 0.9 && inboxShare < 0.2,
                     qPrintable(got));
        }
    }

    // The deletion history at 11 pt: every short column shows whole without
    // scrolling sideways; the subject gives way and ends in an ellipsis.
    void deletionHistoryShowsEveryColumn()
    {
        const QFont before = QApplication::font();
        QFont font(u"DejaVu Sans"_s);
        font.setPointSize(11);
        QApplication::setFont(font);
        const auto restore = qScopeGuard([&before] { QApplication::setFont(before); });
        DeletionRecord r;
        r.time = QDateTime(QDate(2026, 12, 28), QTime(22, 58), Qt::UTC);
        r.profile = u"Home"_s;
        r.sender = u"Account Security Department <security-notices@paypa1-verify.example>"_s;
        r.subject = u"Your account has been limited until we hear from you about recent activity "_s.repeated(3);
        r.date = u"Mon, 28 Dec 2026 22:58:00 +0000"_s;
        r.size = u"123K"_s;
        r.uid = u"000001a2b3c4d5e6f7a8"_s;
        r.rule = u"Subject: *account has been limited* (Filter List)"_s;
        frmDeletionHistory dialog({r, r});
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        const QRect room = dialog.screen()->availableGeometry();
        QVERIFY2(
            dialog.width() <= room.width() && dialog.height() <= room.height(),
            qPrintable(
                u"%1x%2 on %3x%4"_s.arg(dialog.width()).arg(dialog.height()).arg(room.width()).arg(room.height())));
        dialog.resize(1280, 600); // as on a laptop screen
        auto *table = dialog.findChild<QTableView *>(u"lsvHistory"_s);
        QTRY_COMPARE(table->horizontalScrollBar()->maximum(), 0);
        const QFontMetrics fm(table->font());
        for (int c : {DeletionHistoryModel::Deleted, DeletionHistoryModel::Date, DeletionHistoryModel::Size,
                      DeletionHistoryModel::Rule, DeletionHistoryModel::UniqueId}) {
            const QString text = table->model()->index(0, c).data().toString();
            QVERIFY2(
                fm.horizontalAdvance(text) < table->columnWidth(c),
                qPrintable(
                    u"%1: %2 wide, needs %3"_s.arg(text).arg(table->columnWidth(c)).arg(fm.horizontalAdvance(text))));
            QVERIFY(table->columnViewportPosition(c) + table->columnWidth(c) <= table->viewport()->width());
        }
        const QString subject = table->model()->index(0, DeletionHistoryModel::Subject).data().toString();
        QVERIFY(fm.horizontalAdvance(subject) > table->columnWidth(DeletionHistoryModel::Subject));
        QCOMPARE(table->textElideMode(), Qt::ElideRight);
    }

    // The help at 11 pt: within the screen, every contents title whole.
    void helpFitsItsFont()
    {
        const QFont before = QApplication::font();
        QFont font(u"DejaVu Sans"_s);
        font.setPointSize(11);
        QApplication::setFont(font);
        const auto restore = qScopeGuard([&before] { QApplication::setFont(before); });
        HelpWindow help;
        help.show();
        QVERIFY(QTest::qWaitForWindowExposed(&help));
        const QRect room = help.screen()->availableGeometry();
        QVERIFY(help.width() <= room.width() && help.height() <= room.height());
        QVERIFY(help.minimumWidth() < help.maximumWidth() && help.minimumHeight() < help.maximumHeight());
        auto *contents = help.findChild<QListWidget *>(u"lstContents"_s);
        const QFontMetrics fm(contents->font());
        for (int i = 0; i < contents->count(); ++i) {
            const QListWidgetItem *item = contents->item(i);
            QVERIFY2(fm.horizontalAdvance(item->text()) <= contents->viewport()->width() - 4, qPrintable(item->text()));
        }
        QCOMPARE(contents->horizontalScrollBar()->maximum(), 0);
    }

    // The Client Secret's hint reads on a light and on a dark scheme that
    // names no placeholder colour, also when the scheme changes while the
    // dialog is open.
    void clientSecretHintReads_data()
    {
        QTest::addColumn<QString>("scheme");
        QTest::newRow("light") << "light";
        QTest::newRow("dark from the start") << "dark";
        QTest::newRow("dark once the dialog is open") << "dark later";
    }
    void clientSecretHintReads()
    {
        QFETCH(QString, scheme);
        // WCAG contrast of the hint (blended over the field) against the field.
        const auto contrast = [](const QPalette &p) {
            const QColor base = p.color(QPalette::Base), hint = p.color(QPalette::PlaceholderText);
            const auto over = [&](double h, double b) { return h * hint.alphaF() + b * (1 - hint.alphaF()); };
            const auto luminance = [](double r, double g, double b) {
                const auto lin = [](double c) { return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); };
                return 0.2126 * lin(r) + 0.7152 * lin(g) + 0.0722 * lin(b);
            };
            const double lh = luminance(over(hint.redF(), base.redF()), over(hint.greenF(), base.greenF()),
                                        over(hint.blueF(), base.blueF()));
            const double lb = luminance(base.redF(), base.greenF(), base.blueF());
            return (std::max(lh, lb) + 0.05) / (std::min(lh, lb) + 0.05);
        };
        QPalette dark;
        dark.setColor(QPalette::Base, Qt::black);
        dark.setColor(QPalette::Text, QColor(0xF0, 0xF0, 0xF0));
        dark.setColor(QPalette::Window, QColor(0x28, 0x28, 0x28));
        dark.setColor(QPalette::WindowText, QColor(0xF0, 0xF0, 0xF0));
        const QPalette before = QApplication::palette();
        const auto restore = qScopeGuard([&before] { QApplication::setPalette(before); });
        if (scheme == "dark"_L1)
            QApplication::setPalette(dark);
        Window t;
        QVERIFY(t.load());
        CurrentProfile profile;
        profile.setName(u"Home"_s);
        frmSetting setting(profile, t.w.get());
        if (scheme == "dark later"_L1)
            setting.setPalette(dark); // reaches the field as a scheme change does
        auto *secret = setting.findChild<QLineEdit *>(u"txtOAuthClientSecret"_s);
        QVERIFY(secret && !secret->placeholderText().isEmpty());
        QCOMPARE(secret->palette().color(QPalette::Base),
                 scheme == "light"_L1 ? before.color(QPalette::Base) : QColor(Qt::black));
        QVERIFY2(contrast(secret->palette()) >= 3.0, qPrintable(QString::number(contrast(secret->palette()))));
    }

    void noProfileSaysWhatToDo()
    {
        Window t{QStringList()};
        QVERIFY(t.load());
        for (const QString &name : {u"cmdFetch"_s, u"cmdConfirm"_s, u"cmdSetting"_s, u"cmdDeleteProfile"_s})
            QVERIFY2(!t.find(name)->isEnabled(), qPrintable(name));
        QVERIFY(t.find(u"cmdNewProfile"_s)->isEnabled());
        QCOMPARE(t.list(u"lsvInbox"_s)->emptyText(), frmMain::kFirstStartText);
        // It points to what the installed program has, and a screen reader reads it.
        QVERIFY(!frmMain::kFirstStartText.contains(u"scripts/"_s));
        QVERIFY(frmMain::kFirstStartText.contains(u"Help > Content"_s));
        // Both protocols, and the search from the address.
        for (const QString &word : {u"POP3"_s, u"IMAP"_s, u"email address"_s})
            QVERIFY2(frmMain::kFirstStartText.contains(word), qPrintable(word));
        const auto description = [](QWidget *w) {
            return QAccessible::queryAccessibleInterface(w)->text(QAccessible::Description);
        };
        QCOMPARE(description(t.list(u"lsvInbox"_s)), frmMain::kFirstStartText);
        QVERIFY(t.list(u"lsvInbox"_s)->focusPolicy() & Qt::TabFocus);
        // A profile chosen later brings the buttons back and the hint goes.
        Window withProfile;
        QVERIFY(withProfile.load());
        for (const QString &name : {u"cmdFetch"_s, u"cmdConfirm"_s, u"cmdSetting"_s, u"cmdDeleteProfile"_s})
            QVERIFY2(withProfile.find(name)->isEnabled(), qPrintable(name));
        QVERIFY(withProfile.list(u"lsvInbox"_s)->emptyText().isEmpty());
        QVERIFY(description(withProfile.list(u"lsvInbox"_s)).isEmpty());
    }

    void questionDefaults_data()
    {
        QTest::addColumn<bool>("defaultNo");
        QTest::addColumn<bool>("escapeCancels");
        QTest::addColumn<QString>("how"); // Enter, Esc or close
        QTest::addColumn<int>("answer");
        using R = MessageBox::Result;
        QTest::newRow("Enter: Yes by default") << false << false << "Enter" << int(R::Yes);
        QTest::newRow("Enter: No for a destructive question") << true << false << "Enter" << int(R::No);
        QTest::newRow("Esc: No") << false << false << "Esc" << int(R::No);
        QTest::newRow("Esc: back, when only an explicit No may discard") << false << true << "Esc" << int(R::Cancel);
        QTest::newRow("close box: back as well") << false << true << "close" << int(R::Cancel);
    }

    void questionDefaults()
    {
        QFETCH(bool, defaultNo);
        QFETCH(bool, escapeCancels);
        QFETCH(QString, how);
        QFETCH(int, answer);
        MessageBox::Request request{u"Changes not saved.\r\nSave now?"_s, u"A rather long title for a small question"_s,
                                    MessageBox::Icon::Question, MessageBox::Buttons::YesNo};
        request.defaultNo = defaultNo;
        request.escapeCancels = escapeCancels;
        int width = 0;
        whenModal([&](QWidget *box) {
            width = box->width();
            if (how == "close"_L1)
                box->close();
            else
                QTest::keyClick(box, how == "Esc"_L1 ? Qt::Key_Escape : Qt::Key_Return);
        });
        QCOMPARE(int(showMessageBoxDialog(request)), answer);
        QVERIFY(width >= messageBoxTitleWidth(request.title, QApplication::font()));
    }

    void keyboardReachesEverything()
    {
        Window t;
        QVERIFY(t.load());
        // Every menu item has a mnemonic of its own within its menu.
        for (QMenu *menu : t.w->findChildren<QMenu *>()) {
            QSet<QChar> keys;
            for (QAction *a : menu->actions()) {
                if (a->isSeparator())
                    continue;
                const qsizetype at = a->text().indexOf(u'&');
                QVERIFY2(at >= 0 && at + 1 < a->text().size(), qPrintable(a->text()));
                const QChar key = a->text().at(at + 1).toLower();
                QVERIFY2(!keys.contains(key), qPrintable(menu->title() + u": "_s + a->text()));
                keys.insert(key);
            }
        }
        // Shift+F10 opens a list's context menu as the menu key does.
        t.w->inboxModel().append(message(u"a@example.com"_s, 1));
        ListViewWidget *inbox = t.list(u"lsvInbox"_s);
        inbox->setFocus();
        inbox->selectRow(0);
        QTest::keyClick(inbox, Qt::Key_F10, Qt::ShiftModifier);
        QTRY_VERIFY(t.w->menus().mnuInboxPopup->isVisible());
        t.w->menus().mnuInboxPopup->hide();
        // Delete in a rule list deletes the highlighted rules, and only those.
        for (const QString &rule : {u"a@spam.example"_s, u"b@spam.example"_s, u"c@spam.example"_s})
            t.w->ruleLists().AddFilter(rule);
        t.w->ShowFilterList();
        ListViewWidget *filter = t.list(u"lsvFilter"_s);
        QCOMPARE(filter->model()->rowCount(), 3);
        filter->setFocus();
        filter->selectionModel()->select(filter->model()->index(0, 0),
                                         QItemSelectionModel::Select | QItemSelectionModel::Rows);
        filter->selectionModel()->select(filter->model()->index(2, 0),
                                         QItemSelectionModel::Select | QItemSelectionModel::Rows);
        QTest::keyClick(filter, Qt::Key_Delete);
        QCOMPARE(filter->model()->rowCount(), 1);
        QCOMPARE(filter->model()->index(0, 0).data().toString(), u"b@spam.example"_s);
        // The help window closes with Esc and with Ctrl+W.
        for (const auto &keys : {QKeySequence(Qt::Key_Escape), QKeySequence(Qt::CTRL | Qt::Key_W)}) {
            t.w->menus().mnuHelpContent->trigger();
            auto *help = t.w->findChild<HelpWindow *>();
            QVERIFY(QTest::qWaitForWindowActive(help));
            QTest::keySequence(help, keys);
            QTRY_VERIFY(!help->isVisible());
        }
        VERIFY_BOXES(t.boxes);
    }

    void movesActOnHighlightedRows()
    {
        Window t;
        QVERIFY(t.load());
        for (const QString &s : {u"a"_s, u"b"_s, u"c"_s})
            t.w->inboxModel().append(message(s, t.w->inboxModel().count() + 1));
        ListViewWidget *inbox = t.list(u"lsvInbox"_s);
        inbox->setFocus();
        inbox->selectRow(1);
        QTest::keyClick(inbox, Qt::Key_Delete);
        QCOMPARE(t.w->recycleModel().entry(0).sender, u"b"_s);
        // The next row is highlighted and shown.
        QCOMPARE(inbox->selectedRows(), QList<int>{1});
        QCOMPARE(t.find<QLabel>(u"lblSender"_s)->text(), u"c"_s);
        // A current row that is not highlighted is left alone by Delete and double-click.
        inbox->selectionModel()->clearSelection();
        QTest::keyClick(inbox, Qt::Key_Delete);
        QTest::mouseDClick(inbox->viewport(), Qt::LeftButton, {}, QPoint(5, inbox->viewport()->height() - 3));
        QCOMPARE(t.w->inboxModel().count(), 2);
        // The last row moved: the new last row is highlighted.
        inbox->selectRow(1);
        QTest::keyClick(inbox, Qt::Key_Delete);
        QCOMPARE(inbox->selectedRows(), QList<int>{0});
        QCOMPARE(t.find<QLabel>(u"lblSender"_s)->text(), u"a"_s);
        VERIFY_BOXES(t.boxes);
    }

    void treeFollowsTheShownList()
    {
        Window t;
        QVERIFY(t.load());
        auto *tree = t.find<QTreeWidget>(u"TreeView"_s);
        const auto highlighted = [tree] { return tree->currentItem()->data(0, Qt::UserRole + 1).toString(); };
        t.w->ShowFilterList();
        QCOMPARE(highlighted(), u"Filter List"_s);
        t.w->ShowInbox(); // as saving a new profile does
        QCOMPARE(highlighted(), u"Inbox"_s);
        t.w->ShowRecycleBin();
        QCOMPARE(highlighted(), u"Recycle Bin"_s);
    }

    void leavingWithARecycleBinAsks()
    {
        Window t;
        QVERIFY(t.load());
        t.w->recycleModel().append(message(u"spam"_s, 1));
        const QString question =
            u"Items in Recycle Bin for profile 'Home' is not removed from the server.\r\nExit anyway?"_s;
        t.boxes.expect(question, u"Trelvik"_s, MessageBox::Icon::Question, MessageBox::Result::No);
        t.find(u"cmdExit"_s)->setFocus();
        QTest::keyClick(t.find(u"cmdExit"_s), Qt::Key_Space);
        QVERIFY(t.w->isVisible());
        t.boxes.expect(question, u"Trelvik"_s, MessageBox::Icon::Question, MessageBox::Result::Yes);
        t.w->close(); // the close box
        QVERIFY(!t.w->isVisible());
        VERIFY_BOXES(t.boxes);
        QVERIFY(t.boxes.shown().last().defaultNo);
    }

    void columnWidthsRemembered()
    {
        testsupport::TempHome home;
        addProfile(u"Home"_s);
        int dateWidth = 0;
        {
            frmMain w(home.appDataFolder(), std::make_unique<NoDialer>());
            QVERIFY(w.Form_Load());
            w.show();
            QVERIFY(QTest::qWaitForWindowExposed(&w));
            QHeaderView *header = w.findChild<QTreeView *>(u"lsvInbox"_s)->header();
            dateWidth = header->sectionSize(MessageFolderModel::Date) + 40;
            header->resizeSection(MessageFolderModel::Date, dateWidth); // as a drag does
            QCOMPARE(w.findChild<QTreeView *>(u"lsvRecycle"_s)->columnWidth(MessageFolderModel::Date), dateWidth);
        }
        frmMain again(home.appDataFolder(), std::make_unique<NoDialer>());
        QVERIFY(again.Form_Load());
        again.show();
        QVERIFY(QTest::qWaitForWindowExposed(&again));
        QVERIFY(std::abs(again.findChild<QTreeView *>(u"lsvInbox"_s)->columnWidth(MessageFolderModel::Date) - dateWidth)
                <= 1);
    }

    void progressPictureMadeOnce()
    {
        CancelFlag cancel;
        frmProgress first(ProgressKind::FetchInbox, cancel, {});
        frmProgress second(ProgressKind::FetchInbox, cancel, {});
        const auto picture = [](frmProgress &d) { return d.findChild<QLabel *>(u"Image1"_s)->pixmap().cacheKey(); };
        QCOMPARE(picture(second), picture(first));
    }

    void aboutCloses()
    {
        frmAbout about;
        about.show();
        QVERIFY(QTest::qWaitForWindowExposed(&about));
        QTest::mouseClick(about.findChild<QPushButton *>(u"cmdClose"_s), Qt::LeftButton);
        QVERIFY(!about.isVisible());
    }
};

QTEST_MAIN(TestReadable)
#include "tst_readable.moc"
