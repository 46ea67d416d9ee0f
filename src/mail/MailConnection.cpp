#include "MailConnection.h"

#include "CancelFlag.h"

#include <QEventLoop>
#include <QTimer>

#include <utility>

MailConnection::MailConnection(QObject *parent)
    : QObject(parent)
{
}

MailConnection::~MailConnection() = default;

void MailConnection::watch(CancelFlag &cancel, const WaitLimits &limits)
{
    if (m_cancel)
        disconnect(m_cancel, nullptr, this, nullptr);
    m_cancel = &cancel;
    m_limits = limits;
    // The grace after a Cancel runs from the press, across every wait after it.
    connect(m_cancel, &CancelFlag::raised, this, [this] {
        if (!m_sinceCancel.isValid())
            m_sinceCancel.start();
    });
}

void MailConnection::open(const QString &host, quint16 port, bool tls)
{
    closeTransport();
    m_received.clear();
    m_broken = false;
    m_bytesSinceCancel = 0;
    openTransport(host, port, tls);
}

void MailConnection::close()
{
    closeTransport();
}

MailResult MailConnection::failure() const
{
    return MailResult::failure(MailOutcome::ConnectionFailed, m_failureTitle, m_failureText);
}

void MailConnection::setFailure(const QString &text, const QString &title)
{
    m_failureText = text;
    m_failureTitle = title;
}

void MailConnection::arrived(qint64 count)
{
    if (count <= 0)
        return;
    if (m_cancel && m_cancel->isSet()) {
        if (!m_sinceCancel.isValid())
            m_sinceCancel.start();
        m_bytesSinceCancel += count;
        if (m_bytesSinceCancel > m_limits.cancelGraceBytes) {
            breakOff(QStringLiteral("The server kept sending after Cancel, so the connection was closed."));
            return;
        }
    }
    Q_EMIT dataArrived();
    if (m_recheck)
        m_recheck();
}

void MailConnection::breakOff(const QString &text)
{
    if (m_broken)
        return;
    m_broken = true;
    setFailure(text, QStringLiteral("Error"));
    m_received.clear();
    Q_EMIT broken();
    // Closed once the handling of this arrival is over: a server streaming
    // without end must not keep the program reading.
    abortLater();
}

MailConnection::WaitEnd MailConnection::wait(const std::function<bool()> &met, CancelMode mode)
{
    if (met())
        return WaitEnd::Met;
    if (m_broken)
        return WaitEnd::Failed;
    // A connection the server closed already says nothing more: waiting on
    // it would only sit out the inactivity limit. What came with the close
    // may still be unread.
    if (wasReached() && !isOpen()) {
        readArrived();
        if (met())
            return WaitEnd::Met;
        return m_broken ? WaitEnd::Failed : failedWait(End::Dropped);
    }
    const bool cancelled = m_cancel && m_cancel->isSet();
    if (mode == CancelMode::Ends && cancelled)
        return WaitEnd::Cancelled;

    const End end = runLoop(met, mode);
    if (end == End::Dropped)
        readArrived(); // the awaited reply may have come with the close
    if (met())
        return WaitEnd::Met;
    if (m_broken)
        return WaitEnd::Failed;
    if (end == End::Cancelled)
        return WaitEnd::Cancelled;
    return failedWait(end);
}

MailConnection::End MailConnection::runLoop(const std::function<bool()> &met, CancelMode mode)
{
    End end = End::Waiting;
    QEventLoop loop;
    QTimer idle;
    idle.setSingleShot(true);
    idle.setInterval(m_limits.inactivityLimitMs);
    auto finish = [&](End how) {
        if (end == End::Waiting) {
            end = how;
            loop.quit();
        }
    };
    // What is owed is awaited after a Cancel only for what is left of the
    // grace, however the server trickles.
    QTimer grace;
    grace.setSingleShot(true);
    grace.setTimerType(Qt::PreciseTimer); // a coarse one may end the grace 5 % early
    auto armGrace = [&] {
        if (!grace.isActive())
            grace.start(cancelGraceLeftMs());
    };
    const std::function<void()> outer = std::exchange(m_recheck, [&] {
        idle.start();
        if (met())
            finish(End::Met);
    });
    connect(this, &MailConnection::broken, &loop, [&] { finish(End::Broken); });
    connect(this, &MailConnection::dropped, &loop, [&] { finish(End::Dropped); });
    if (m_cancel) {
        connect(m_cancel, &CancelFlag::raised, &loop, [&] {
            if (mode == CancelMode::Ends)
                finish(End::Cancelled);
            else
                armGrace();
        });
        if (mode == CancelMode::Bounded && m_cancel->isSet())
            armGrace();
    }
    connect(&grace, &QTimer::timeout, &loop, [&] { finish(End::Grace); });
    connect(&idle, &QTimer::timeout, &loop, [&] { finish(End::Silent); });
    idle.start();
    loop.exec();
    m_recheck = outer;
    return end;
}

MailConnection::WaitEnd MailConnection::failedWait(End end)
{
    switch (end) {
    case End::Grace:
        setFailure(QStringLiteral("The server did not finish answering within %1 seconds of Cancel, so the "
                                  "connection was closed.")
                       .arg(m_limits.cancelGraceMs / 1000.0),
                   QStringLiteral("Error"));
        break;
    case End::Silent:
        setFailure(QStringLiteral("The server stopped answering.\r\n"
                                  "Nothing arrived from it for %1 seconds, so the connection was closed.")
                       .arg(m_limits.inactivityLimitMs / 1000.0),
                   QStringLiteral("Connection Failed"));
        break;
    default:
        setFailure(error() == QAbstractSocket::RemoteHostClosedError || error() == QAbstractSocket::UnknownSocketError
                       ? QStringLiteral("The server closed the connection.")
                       : errorString(),
                   QStringLiteral("Error"));
        break;
    }
    return WaitEnd::Failed;
}

int MailConnection::cancelGraceLeftMs()
{
    if (!m_sinceCancel.isValid())
        m_sinceCancel.start();
    return int(
        qBound(qint64(0), qint64(m_limits.cancelGraceMs) - m_sinceCancel.elapsed(), qint64(m_limits.cancelGraceMs)));
}
