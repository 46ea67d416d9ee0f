// The window's layout rules, the band height and the image list, without a window.
#include "AppIcons.h"
#include "ListBands.h"
#include "MainLayout.h"
#include "TestSupport.h"

#include <QImage>
#include <QtTest>

using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(MainLayout::TextFit)

class TestMainLayout : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void sizes_data()
    {
        // Subject and e-mail columns, width of the lists, heights of message and rule lists,
        // the pane's and the buttons' top, tree frame height, profile frame width.
        // "narrower" and "lower" are below the smallest size in one direction only.
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QList<int>>("twips");
        QTest::newRow("design size") << QSize(12000, 8700)
                                     << QList<int>{3950, 8850, 9135, 4695, 6015, 5880, 7200, 6375, 11655};
        QTest::newRow("smallest size") << QSize(9720, 6900)
                                       << QList<int>{1670, 6570, 6855, 2895, 4215, 4080, 5400, 4575, 9375};
        QTest::newRow("narrower") << QSize(5000, 8700)
                                  << QList<int>{1670, 6570, 6855, 4695, 6015, 5880, 7200, 6375, 9375};
        QTest::newRow("lower") << QSize(12000, 100)
                               << QList<int>{3950, 8850, 9135, 2895, 4215, 4080, 5400, 4575, 11655};
        QTest::newRow("negative size") << QSize(-1, -1)
                                       << QList<int>{1670, 6570, 6855, 2895, 4215, 4080, 5400, 4575, 9375};
        QTest::newRow("large: Sender and Subject share")
            << QSize(28800, 16200) << QList<int>{12350, 25650, 25935, 12195, 13515, 13380, 14700, 13875, 28455};
    }

    void sizes()
    {
        QFETCH(QSize, size);
        const MainLayout::Geometry g = MainLayout::compute(size.width(), size.height());
        const QList<int> got{g.subjectColumnWidth,    g.emailColumnWidth,     g.messageLists.width(),
                             g.messageLists.height(), g.ruleLists.height(),   g.picDetail.top(),
                             g.cmdFetch.top(),        g.shpTreeview.height(), g.profileFrameWidth};
        QTEST(got, "twips");
        // The message columns fill the list as the design's do (285 twips for frame and scroll bar).
        QCOMPARE(g.senderColumnWidth + g.subjectColumnWidth + 1500 + 700 + 700 + 285, g.messageLists.width());
        for (const QRect &r : {g.ruleLists, g.picDetail, g.shpFolder})
            QCOMPARE(r.width(), g.messageLists.width());
        // Left edges and the controls' own sizes never move; the buttons share one top.
        QCOMPARE(g.messageLists.left(), 2640);
        QCOMPARE(g.cmdConfirm, QRect(3960, g.cmdFetch.top(), 1695, 375));
        QCOMPARE(g.cmdExit, QRect(5760, g.cmdFetch.top(), 735, 375));
        QCOMPARE(g.picDetail.height(), 1215);
        // Message lists end 105 above the pane, rule lists at its bottom, the
        // buttons begin 105 below it; nothing reaches into the status bar.
        QCOMPARE(g.messageLists.bottom() + 1 + 105, g.picDetail.top());
        QCOMPARE(g.ruleLists.bottom(), g.picDetail.bottom());
        QCOMPARE(g.cmdFetch.top(), g.picDetail.bottom() + 1 + 105);
        const int clientHeight = g.height - MainLayout::kFrameHeight - MainLayout::kStatusBarHeight;
        QVERIFY2(g.cmdFetch.bottom() < clientHeight && g.shpTreeview.bottom() < clientHeight,
                 "overlaps the status bar");
        QVERIFY(g.messageLists.right() < g.width - MainLayout::kFrameWidth);
    }

    void fontScale_data()
    {
        using Fit = MainLayout::TextFit;
        QTest::addColumn<QList<Fit>>("texts");
        QTest::addColumn<double>("scale");
        QTest::newRow("nothing to fit") << QList<Fit>{} << 1.0;
        QTest::newRow("small texts keep the design") << QList<Fit>{{40, 13, 1215, 375}, {10, 10, 735, 375}} << 1.0;
        QTest::newRow("a wide caption widens all") << QList<Fit>{{162, 13, 1215, 375}, {10, 10, 735, 375}} << 2.0;
        QTest::newRow("a tall text") << QList<Fit>{{10, 30, 1215, 300}} << 1.5;
        QTest::newRow("the largest need wins") << QList<Fit>{{121, 13, 1215, 375}, {20, 34, 735, 255}} << 2.0;
        QTest::newRow("no room given: ignored") << QList<Fit>{{500, 500, 0, 0}} << 1.0;
    }

    void fontScale()
    {
        QFETCH(QList<MainLayout::TextFit>, texts);
        QFETCH(double, scale);
        QCOMPARE(MainLayout::fontScale(texts), scale);
    }

    void bandHeight_data()
    {
        QTest::addColumn<QList<int>>("args"); // mode, text height in pixels, twips per pixel
        QTest::addColumn<int>("expectedTwips");
        QTest::newRow("mode 2, 13 px text: 17 px rows") << QList<int>{2, 13, 15} << 255;
        QTest::newRow("mode 2, 20 px text: still icon + 1") << QList<int>{2, 20, 15} << 255;
        QTest::newRow("mode 1, 20 px text: 21 px") << QList<int>{1, 20, 15} << 315;
        QTest::newRow("unknown mode: text height") << QList<int>{7, 13, 15} << 195;
        QTest::newRow("no twips per pixel: no division") << QList<int>{2, 13, 0} << 0;
    }

    void bandHeight()
    {
        QFETCH(QList<int>, args);
        QTEST(ListBands::rowHeightTwips(args[0], args[1] * args[2], args[2], 16), "expectedTwips");
    }

    void iconsAreDrawn()
    {
        // At 16 px and twice that for a high-dpi screen: drawn at that size,
        // neither nearly empty nor a filled square.
        for (const QString &key : AppIcons::keys())
            for (qreal ratio : {1.0, 2.0}) {
                const QImage image = AppIcons::icon(key).pixmap(QSize(16, 16), ratio).toImage();
                QCOMPARE(image.size(), QSize(16, 16) * ratio);
                int opaque = 0;
                for (int i = 0; i < image.width() * image.height(); ++i)
                    opaque += qAlpha(image.pixel(i % image.width(), i / image.width())) > 200 ? 1 : 0;
                QVERIFY2(opaque > image.width() * image.height() / 8 && opaque < image.width() * image.height(),
                         qPrintable(key));
            }
        QVERIFY(AppIcons::icon(u"nosuchkey"_s).isNull());
    }

private:
    testsupport::TempHome m_home;
};

QTEST_MAIN(TestMainLayout)
#include "tst_mainlayout.moc"
