#include "KeychainLibraryStore.h"

#include "KeyringSecretStore.h"

#include <qt6keychain/keychain.h>

#include <QEventLoop>
#include <QTimer>

namespace KeychainLibraryStore {

namespace {

using Status = SecretStore::Status;
using Answer = SecretStore::Answer;

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

Answer answerOf(QKeychain::Job &job)
{
    Answer answer;
    switch (job.error()) {
    case QKeychain::NoError:
        return answer;
    case QKeychain::EntryNotFound:
        answer.status = Status::NotFound;
        break;
    case QKeychain::NoBackendAvailable:
    case QKeychain::NotImplemented:
        answer.status = Status::NoKeyring;
        break;
    default:
        answer.status = Status::Refused;
        break;
    }
    answer.error = job.errorString();
    return answer;
}

Answer runKeychain(QKeychain::Job *job, int timeoutMs)
{
    job->setInsecureFallback(false);
    if (!runJob(job, timeoutMs)) {
        // A write that ends after this must not stay: it is undone then.
        if (auto *writing = qobject_cast<QKeychain::WritePasswordJob *>(job)) {
            const QString key = writing->key();
            QObject::connect(writing, &QKeychain::Job::finished, [key](QKeychain::Job *done) {
                if (done->error() == QKeychain::NoError) {
                    auto *undo = new QKeychain::DeletePasswordJob(KeyringSecretStore::service());
                    undo->setInsecureFallback(false);
                    undo->setKey(key);
                    undo->start();
                }
            });
        }
        job->setAutoDelete(true);
        return {Status::Refused,
                {},
                QStringLiteral("The desktop keyring did not answer within %1 seconds.").arg(timeoutMs / 1000)};
    }
    Answer answer = answerOf(*job);
    if (auto *reading = qobject_cast<QKeychain::ReadPasswordJob *>(job); reading && answer.status == Status::Ok)
        answer.secret = reading->textData();
    delete job;
    return answer;
}

} // namespace

Answer read(const QString &label, int timeoutMs)
{
    auto *job = new QKeychain::ReadPasswordJob(KeyringSecretStore::service());
    job->setKey(label);
    return runKeychain(job, timeoutMs);
}

Answer write(const QString &label, const QString &secret, int timeoutMs)
{
    auto *job = new QKeychain::WritePasswordJob(KeyringSecretStore::service());
    job->setKey(label);
    job->setTextData(secret);
    return runKeychain(job, timeoutMs);
}

Answer remove(const QString &label, int timeoutMs)
{
    auto *job = new QKeychain::DeletePasswordJob(KeyringSecretStore::service());
    job->setKey(label);
    return runKeychain(job, timeoutMs);
}

} // namespace KeychainLibraryStore
