#include "PipelineWindow.h"

#include <QTest>

#include <algorithm>

// The pipelining window, driven round trip by round trip: every command of
// `bytes` unanswered commands is answered after `roundTripMs`.
class TestPipelineWindow : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void window_data();
    void window();
};

namespace {
// One round trip: the window's worth of 16-byte commands sent at `now`, all
// answered `roundTripMs` later. Returns the time after it.
qint64 roundTrip(PipelineWindow &window, qint64 now, qint64 roundTripMs)
{
    const qsizetype commands = window.bytes() / 16;
    for (qsizetype i = 0; i < commands; ++i)
        window.replyArrived(16, now, now + roundTripMs);
    return now + roundTripMs;
}
} // namespace

void TestPipelineWindow::window_data()
{
    // Round trips in ms, one per round; the window's size after each.
    QTest::addColumn<QList<int>>("roundTrips");
    QTest::addColumn<QList<qsizetype>>("sizes");
    const qsizetype start = PipelineWindow::kInitialBytes;
    const qsizetype bound = PipelineWindow::kMaxBytes;
    const qsizetype grown = std::min(2 * start, bound); // after one round trip answered in time
    QTest::newRow("replies at once: grows each round trip, then stays at its bound")
        << QList<int>{100, 100, 100} << QList<qsizetype>{grown, bound, bound};
    // A late round trip halves it once; once the slower pace is the usual
    // one, it grows again.
    QTest::newRow("replies lag, then keep the slower pace")
        << QList<int>{100, 100, 500, 500, 500}
        << QList<qsizetype>{grown, bound, std::max(start, bound / 2), std::min(bound, 2 * std::max(start, bound / 2)),
                            bound};
    // The bound follows the shortest round trip: a shorter link needs less
    // in flight, and holds less when the server outpaces the rows.
    const qsizetype halfBound = std::max(start, bound / 2);
    QTest::newRow("half the round trip: half the bound")
        << QList<int>{50, 50, 50} << QList<qsizetype>{std::min(2 * start, halfBound), halfBound, halfBound};
    QTest::newRow("a short round trip seen once bounds it from then on")
        << QList<int>{100, 100, 5, 100} << QList<qsizetype>{grown, bound, start, start};
    QTest::newRow("never below its start")
        << QList<int>{100, 500, 5000} << QList<qsizetype>{grown, std::max(start, grown / 2), start};
}

void TestPipelineWindow::window()
{
    QFETCH(QList<int>, roundTrips);
    QFETCH(QList<qsizetype>, sizes);
    PipelineWindow window;
    QCOMPARE(window.bytes(), PipelineWindow::kInitialBytes);
    qint64 now = 0;
    QList<qsizetype> seen;
    for (const int ms : roundTrips) {
        now = roundTrip(window, now, ms);
        seen << window.bytes();
    }
    QCOMPARE(seen, sizes);
}

QTEST_GUILESS_MAIN(TestPipelineWindow)
#include "tst_pipelinewindow.moc"
