// The keyring's own prompts: the unlock of a locked keyring and the
// confirmations it may ask for. Only a front end that set a wait indicator
// (the window) lets them be shown; otherwise they are withdrawn at once.
#include "SecretServiceClient.h"

#include "KeyringSecretStore.h"

#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QEventLoop>

using namespace SecretServiceNames;
using Status = SecretStore::Status;

namespace {

// Hears a prompt's Completed signal.
class PromptListener : public QObject {
    Q_OBJECT
public:
    bool completed = false;
    bool dismissed = true;
    QDBusVariant result;

public Q_SLOTS:
    void onCompleted(bool wasDismissed, const QDBusVariant &value)
    {
        completed = true;
        dismissed = wasDismissed;
        result = value;
        Q_EMIT done();
    }

Q_SIGNALS:
    void done();
};

} // namespace

bool SecretServiceClient::unlock(const QList<QDBusObjectPath> &objects)
{
    if (!m_indicator) {
        fail(Status::Locked, KeyringSecretStore::lockedText());
        return false;
    }
    QDBusMessage reply;
    if (!call(kServicePath, kServiceIface, QStringLiteral("Unlock"), {QVariant::fromValue(objects)}, &reply))
        return false;
    const QDBusObjectPath prompt = reply.arguments().value(1).value<QDBusObjectPath>();
    if (prompt.path() == kNoPath)
        return true;
    PromptOutcome outcome;
    if (!runPrompt(prompt, &outcome))
        return false;
    if (outcome.dismissed) {
        fail(Status::Locked, KeyringSecretStore::lockedText());
        return false;
    }
    return true;
}

bool SecretServiceClient::runPrompt(const QDBusObjectPath &prompt, PromptOutcome *outcome)
{
    if (!m_indicator) {
        // Nobody to answer it: withdrawn at once.
        m_bus.asyncCall(
            QDBusMessage::createMethodCall(kService, prompt.path(), kPromptIface, QStringLiteral("Dismiss")));
        return fail(Status::Refused,
                    QStringLiteral("The desktop keyring asks for a confirmation, which only "
                                   "Trelvik's window can give."));
    }
    PromptListener listener;
    if (!m_bus.connect(kService, prompt.path(), kPromptIface, QStringLiteral("Completed"), &listener,
                       SLOT(onCompleted(bool, QDBusVariant))))
        return fail(Status::Refused, QStringLiteral("The keyring's prompt could not be followed."));
    bool cancelled = false;
    QEventLoop loop;
    QObject::connect(&listener, &PromptListener::done, &loop, &QEventLoop::quit);
    const std::function<void()> takeDown =
        m_indicator(QStringLiteral("Waiting for the desktop keyring: answer its window, or press Cancel."), [&] {
            cancelled = true;
            loop.quit();
        });
    QDBusMessage shown;
    const bool ok = call(prompt.path(), kPromptIface, QStringLiteral("Prompt"), {QString()}, &shown);
    if (ok && !listener.completed && !cancelled)
        loop.exec();
    takeDown();
    m_bus.disconnect(kService, prompt.path(), kPromptIface, QStringLiteral("Completed"), &listener,
                     SLOT(onCompleted(bool, QDBusVariant)));
    if (!ok)
        return false;
    if (cancelled && !listener.completed) {
        m_bus.asyncCall(
            QDBusMessage::createMethodCall(kService, prompt.path(), kPromptIface, QStringLiteral("Dismiss")));
        return fail(Status::Refused, QStringLiteral("Waiting for the desktop keyring was cancelled."));
    }
    outcome->dismissed = listener.dismissed;
    outcome->result = listener.result;
    return true;
}

#include "SecretServicePrompt.moc"
