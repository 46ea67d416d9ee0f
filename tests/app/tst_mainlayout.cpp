// The window's layout rules, the band height and the image list, without a
// window.
#include "AppIcons.h"
#include "ListBands.h"
#include "MainLayout.h"
#include "TestSupport.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QtTest>

class TestMainLayout : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void sizes_data();
    void sizes();
    void edgesStayInStep_data();
    void edgesStayInStep();
    void bandHeight_data();
    void bandHeight();
    void iconsAreDrawn_data();
    void iconsAreDrawn();
    void nodeIconShowsSelectedImage();

private:
    testsupport::TempHome m_home;
};

void TestMainLayout::sizes_data()
{
    QTest::addColumn<int>("w");
    QTest::addColumn<int>("h");
    QTest::addColumn<int>("subject");
    QTest::addColumn<int>("email");
    QTest::addColumn<int>("listWidth");
    QTest::addColumn<int>("messageHeight");
    QTest::addColumn<int>("ruleHeight");
    QTest::addColumn<int>("detailTop");
    QTest::addColumn<int>("buttonsTop");
    QTest::addColumn<int>("treeFrameHeight");
    QTest::addColumn<int>("profileWidth");

    QTest::newRow("design size") << 12000 << 8700 << 3950 << 8850 << 9135 << 4695 << 6015 << 5880 << 7200 << 6375 << 11655;
    QTest::newRow("smallest size") << 9720 << 6900 << 1670 << 6570 << 6855 << 2895 << 4215 << 4080 << 5400 << 4575 << 9375;
    QTest::newRow("narrower than smallest") << 5000 << 8700 << 1670 << 6570 << 6855 << 4695 << 6015 << 5880 << 7200 << 6375 << 9375;
    QTest::newRow("lower than smallest") << 12000 << 100 << 3950 << 8850 << 9135 << 2895 << 4215 << 4080 << 5400 << 4575 << 11655;
    QTest::newRow("negative size") << -1 << -1 << 1670 << 6570 << 6855 << 2895 << 4215 << 4080 << 5400 << 4575 << 9375;
    QTest::newRow("large screen") << 28800 << 16200 << 20750 << 25650 << 25935 << 12195 << 13515 << 13380 << 14700 << 13875 << 28455;
}

void TestMainLayout::sizes()
{
    QFETCH(int, w);
    QFETCH(int, h);
    const MainLayout::Geometry g = MainLayout::compute(w, h);
    QTEST(g.subjectColumnWidth, "subject");
    QTEST(g.emailColumnWidth, "email");
    QTEST(g.messageLists.width(), "listWidth");
    QTEST(g.ruleLists.width(), "listWidth");
    QTEST(g.picDetail.width(), "listWidth");
    QTEST(g.shpFolder.width(), "listWidth");
    QTEST(g.messageLists.height(), "messageHeight");
    QTEST(g.ruleLists.height(), "ruleHeight");
    QTEST(g.picDetail.top(), "detailTop");
    QTEST(g.cmdFetch.top(), "buttonsTop");
    QTEST(g.cmdConfirm.top(), "buttonsTop");
    QTEST(g.cmdExit.top(), "buttonsTop");
    QTEST(g.shpTreeview.height(), "treeFrameHeight");
    QTEST(g.profileFrameWidth, "profileWidth");
    // Left edges and the controls' own sizes never move.
    QCOMPARE(g.messageLists.left(), 2640);
    QCOMPARE(g.cmdConfirm, QRect(3960, g.cmdFetch.top(), 1695, 375));
    QCOMPARE(g.cmdExit, QRect(5760, g.cmdFetch.top(), 735, 375));
    QCOMPARE(g.picDetail.height(), 1215);
}

void TestMainLayout::edgesStayInStep_data()
{
    QTest::addColumn<int>("w");
    QTest::addColumn<int>("h");
    QTest::newRow("smallest") << 9720 << 6900;
    QTest::newRow("design") << 12000 << 8700;
    QTest::newRow("odd size") << 13337 << 9001;
}

void TestMainLayout::edgesStayInStep()
{
    QFETCH(int, w);
    QFETCH(int, h);
    const MainLayout::Geometry g = MainLayout::compute(w, h);
    const int detailBottom = g.picDetail.top() + g.picDetail.height();
    // Message lists end 105 above the pane, rule lists at its bottom edge,
    // the buttons begin 105 below it.
    QCOMPARE(g.messageLists.top() + g.messageLists.height() + 105, g.picDetail.top());
    QCOMPARE(g.ruleLists.top() + g.ruleLists.height(), detailBottom);
    QCOMPARE(g.cmdFetch.top(), detailBottom + 105);
    // Nothing reaches into the status bar.
    const int clientHeight = g.height - MainLayout::kFrameHeight - MainLayout::kStatusBarHeight;
    QVERIFY2(g.cmdFetch.top() + g.cmdFetch.height() <= clientHeight, "buttons overlap the status bar");
    QVERIFY(g.shpTreeview.top() + g.shpTreeview.height() <= clientHeight);
    // Nothing reaches past the right edge of the client area.
    QVERIFY(g.messageLists.left() + g.messageLists.width() <= g.width - MainLayout::kFrameWidth);
}

void TestMainLayout::bandHeight_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("textPixels");
    QTest::addColumn<int>("tppy");
    QTest::addColumn<int>("expectedTwips");
    QTest::newRow("mode 2, 13 px text: 17 px rows") << 2 << 13 << 15 << 255;
    QTest::newRow("mode 2, 20 px text: still icon + 1") << 2 << 20 << 15 << 255;
    QTest::newRow("mode 1, 13 px text: 19 px") << 1 << 13 << 15 << 285;
    QTest::newRow("mode 1, 20 px text: 21 px") << 1 << 20 << 15 << 315;
    QTest::newRow("mode 0: text + 1 px") << 0 << 13 << 15 << 210;
    QTest::newRow("unknown mode: text height") << 7 << 13 << 15 << 195;
    QTest::newRow("mode 2 at 12 twips per pixel") << 2 << 13 << 12 << 204;
    QTest::newRow("no twips per pixel: no division") << 2 << 13 << 0 << 0;
}

void TestMainLayout::bandHeight()
{
    QFETCH(int, mode);
    QFETCH(int, textPixels);
    QFETCH(int, tppy);
    QFETCH(int, expectedTwips);
    QCOMPARE(ListBands::rowHeightTwips(mode, textPixels * tppy, tppy, 16), expectedTwips);
}

void TestMainLayout::iconsAreDrawn_data()
{
    QTest::addColumn<QString>("key");
    for (const QString &key : AppIcons::keys())
        QTest::newRow(qPrintable(key)) << key;
}

void TestMainLayout::iconsAreDrawn()
{
    QFETCH(QString, key);
    QVERIFY(AppIcons::contains(key));
    const QIcon icon = AppIcons::icon(key);
    QVERIFY(!icon.isNull());
    // At 16 px and at twice that for a high-dpi screen: really drawn at that
    // size (not a scaled-up 16 px image), and not an empty square.
    for (qreal ratio : {1.0, 2.0}) {
        const QImage image = icon.pixmap(QSize(16, 16), ratio).toImage();
        QCOMPARE(image.size(), QSize(16, 16) * ratio);
        int opaque = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                opaque += qAlpha(image.pixel(x, y)) > 200 ? 1 : 0;
        QVERIFY2(opaque > image.width() * image.height() / 8, "icon nearly empty");
        QVERIFY2(opaque < image.width() * image.height(), "icon fills its whole square");
    }
}

void TestMainLayout::nodeIconShowsSelectedImage()
{
    QCOMPARE(AppIcons::keys().size(), 14);
    QVERIFY(AppIcons::icon(QStringLiteral("nosuchkey")).isNull());
    QVERIFY(AppIcons::icon(QString()).isNull());
    const QIcon node = AppIcons::nodeIcon(QStringLiteral("greenclose"), QStringLiteral("greenopen"));
    const QImage normal = node.pixmap(QSize(16, 16), 1.0, QIcon::Normal).toImage();
    const QImage selected = node.pixmap(QSize(16, 16), 1.0, QIcon::Selected).toImage();
    QCOMPARE(normal, AppIcons::icon(QStringLiteral("greenclose")).pixmap(QSize(16, 16), 1.0).toImage());
    QCOMPARE(selected, AppIcons::icon(QStringLiteral("greenopen")).pixmap(QSize(16, 16), 1.0).toImage());
    QVERIFY(normal != selected);
    QCOMPARE(ListBands::mainWindowRowHeightPixels(), 17);
}

QTEST_MAIN(TestMainLayout)
#include "tst_mainlayout.moc"
