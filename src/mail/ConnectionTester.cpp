#include "ConnectionTester.h"

#include "Global.h"
#include "MessageBox.h"
#include "Pop3Parsers.h"
#include "RunStatus.h"

#include <QStringList>
#include <exception>

namespace {

class SilentStatus : public RunStatus {
public:
    void setStatusText(const QString &) override {}
    void setProgressMaximum(int) override {}
    void setProgressValue(int) override {}
    void setNodeText(const QString &, const QString &) override {}
};

// Takes over the message boxes while it lives and keeps their texts.
class BoxCollector {
public:
    BoxCollector()
    {
        m_previous = MessageBox::setHandler([this](const MessageBox::Request &request) {
            m_texts << request.text;
            return request.buttons == MessageBox::Buttons::YesNo ? MessageBox::Result::No : MessageBox::Result::Ok;
        });
    }
    ~BoxCollector() { MessageBox::setHandler(m_previous); }
    BoxCollector(const BoxCollector &) = delete;
    BoxCollector &operator=(const BoxCollector &) = delete;

    QString text() const { return m_texts.join(QLatin1Char(' ')); }

private:
    MessageBox::Handler m_previous;
    QStringList m_texts;
};

QString certificateText(CertificateTrust trust)
{
    switch (trust) {
    case CertificateTrust::Verified:
        return QStringLiteral("certificate verified");
    case CertificateTrust::Pinned:
        return QStringLiteral("certificate trusted for this profile");
    case CertificateTrust::TrustedNow:
        return QStringLiteral("certificate trusted now");
    case CertificateTrust::NotEncrypted:
        break;
    }
    return QStringLiteral("not encrypted: the password is sent in clear");
}

QString oneLine(QString text)
{
    text.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    return text.simplified();
}

} // namespace

TestConnectionResult testConnection(const Global::ProfileSettingsRecord &settings, SessionOptions options)
{
    TestConnectionResult result;
    QStringList done;
    QString failure;
    {
        BoxCollector boxes;
        SilentStatus status;
        Global::CancelFlag cancel;
        Pop3Session session(status, settings, cancel, options);
        auto failedWith = [&](const QString &step) {
            session.showFailure();
            failure = step + QStringLiteral(": ") + oneLine(boxes.text());
        };
        try {
            if (settings.EmailHost.trimmed().isEmpty()) {
                failure = QStringLiteral("No POP3 server is set.");
            } else if (session.ConnectServer() != Pop3Session::kConnected) {
                failedWith(QStringLiteral("Could not connect to %1:%2").arg(settings.EmailHost, settings.EmailPort.trimmed()));
            } else {
                QString connected =
                    QStringLiteral("Connected to %1:%2").arg(settings.EmailHost, settings.EmailPort.trimmed());
                if (session.isEncrypted())
                    connected += QStringLiteral(" with ") + session.protocolName();
                done << connected << certificateText(session.certificateTrust());
                if (session.LoginServer() != 1) {
                    failedWith(QStringLiteral("login failed"));
                } else {
                    done << QStringLiteral("logged in");
                    if (session.command(QStringLiteral("STAT"), Pop3Session::kSingleReply) == Pop3Session::Outcome::Reply
                        && session.ServerReply.startsWith(QLatin1String("+OK"))) {
                        const qint64 count = LeadingNumber(GetReplyWord(session.ServerReply, 2));
                        done << (count == 1 ? QStringLiteral("1 message waiting")
                                            : QStringLiteral("%1 messages waiting").arg(count));
                    }
                    session.QuitServer();
                    result.ok = true;
                }
            }
        } catch (const std::exception &e) {
            failure = QString::fromLocal8Bit(e.what());
        }
        session.CloseServer();
    }
    QString text = done.join(QStringLiteral("; "));
    if (!failure.isEmpty())
        text += (text.isEmpty() ? QString() : QStringLiteral("; ")) + failure;
    if (!text.endsWith(QLatin1Char('.')))
        text += QLatin1Char('.');
    if (!settings.EmailPassword.isEmpty())
        text.replace(settings.EmailPassword, QStringLiteral("***"));
    result.text = text;
    return result;
}
