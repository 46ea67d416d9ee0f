#include "KeyringSecretStore.h"

#include <qt6keychain/keychain.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusReply>
#include <QEventLoop>
#include <QTimer>

namespace {

// Runs a job and waits for it; false when it did not finish in time (the
// job is then left to delete itself whenever it ends).
bool runJob(QKeychain::Job *job, int timeoutMs)
{
    bool finished = false;
    QEventLoop loop;
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(job, &QKeychain::Job::finished, &loop, [&] {
        finished = true;
        loop.quit();
    });
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    job->setAutoDelete(false);
    job->start();
    limit.start(timeoutMs);
    if (!finished)
        loop.exec();
    return finished;
}

SecretStore::Answer answerOf(QKeychain::Job &job)
{
    SecretStore::Answer answer;
    switch (job.error()) {
    case QKeychain::NoError:
        return answer;
    case QKeychain::EntryNotFound:
        answer.status = SecretStore::Status::NotFound;
        break;
    case QKeychain::NoBackendAvailable:
    case QKeychain::NotImplemented:
        answer.status = SecretStore::Status::NoKeyring;
        break;
    default:
        answer.status = SecretStore::Status::Refused;
        break;
    }
    answer.error = job.errorString();
    return answer;
}

// Whether anything on the session bus keeps secrets, or could be started to.
// Asked first because a missing service comes back from the keychain as an
// error like any other, and no keyring is not a refusal.
bool keyringOnBus()
{
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface())
        return false;
    const QStringList names{QStringLiteral("org.freedesktop.secrets"), QStringLiteral("org.kde.kwalletd5"),
                            QStringLiteral("org.kde.kwalletd6")};
    for (const QString &name : names) {
        if (bus.interface()->isServiceRegistered(name).value())
            return true;
    }
    const QDBusReply<QStringList> activatable = bus.interface()->activatableServiceNames();
    for (const QString &name : names) {
        if (activatable.isValid() && activatable.value().contains(name))
            return true;
    }
    return false;
}

SecretStore::Answer run(QKeychain::Job *job, int timeoutMs)
{
    if (!keyringOnBus()) {
        delete job;
        return {SecretStore::Status::NoKeyring, {}, QStringLiteral("No desktop keyring is running.")};
    }
    if (!runJob(job, timeoutMs)) {
        job->setAutoDelete(true);
        return {SecretStore::Status::Refused, {},
                QStringLiteral("The desktop keyring did not answer within %1 seconds.").arg(timeoutMs / 1000)};
    }
    SecretStore::Answer answer = answerOf(*job);
    if (auto *reading = qobject_cast<QKeychain::ReadPasswordJob *>(job); reading && answer.status == SecretStore::Status::Ok)
        answer.secret = reading->textData();
    delete job;
    return answer;
}

} // namespace

KeyringSecretStore::KeyringSecretStore(int timeoutMs)
    : m_timeoutMs(timeoutMs)
{
}

SecretStore::Answer KeyringSecretStore::read(const QString &profile, SecretKind kind)
{
    auto *job = new QKeychain::ReadPasswordJob(service());
    job->setInsecureFallback(false);
    job->setKey(secretLabel(profile, kind));
    return run(job, m_timeoutMs);
}

SecretStore::Answer KeyringSecretStore::write(const QString &profile, SecretKind kind, const QString &secret)
{
    auto *job = new QKeychain::WritePasswordJob(service());
    job->setInsecureFallback(false);
    job->setKey(secretLabel(profile, kind));
    job->setTextData(secret);
    return run(job, m_timeoutMs);
}

SecretStore::Answer KeyringSecretStore::remove(const QString &profile, SecretKind kind)
{
    auto *job = new QKeychain::DeletePasswordJob(service());
    job->setInsecureFallback(false);
    job->setKey(secretLabel(profile, kind));
    return run(job, m_timeoutMs);
}

SecretStore &desktopKeyring()
{
    static KeyringSecretStore keyring;
    return keyring;
}
