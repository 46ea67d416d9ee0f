#include "KeyringSecretStore.h"

#include <qt6keychain/keychain.h>

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusReply>
#include <QDBusVariant>
#include <QEventLoop>
#include <QPointer>
#include <QTimer>

#include <memory>

// A secret as the Secret Service passes it: (oayays).
struct SecretServiceValue {
    QDBusObjectPath session;
    QByteArray parameters;
    QByteArray value;
    QString contentType;
};
Q_DECLARE_METATYPE(SecretServiceValue)

QDBusArgument &operator<<(QDBusArgument &argument, const SecretServiceValue &secret)
{
    argument.beginStructure();
    argument << secret.session << secret.parameters << secret.value << secret.contentType;
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, SecretServiceValue &secret)
{
    argument.beginStructure();
    argument >> secret.session >> secret.parameters >> secret.value >> secret.contentType;
    argument.endStructure();
    return argument;
}

using StringMap = QMap<QString, QString>;

namespace {

using Status = SecretStore::Status;
using Answer = SecretStore::Answer;

const QString kSecretsName = QStringLiteral("org.freedesktop.secrets");
const QString kServicePath = QStringLiteral("/org/freedesktop/secrets");
const QString kServiceIface = QStringLiteral("org.freedesktop.Secret.Service");
const QString kCollectionIface = QStringLiteral("org.freedesktop.Secret.Collection");
const QString kItemIface = QStringLiteral("org.freedesktop.Secret.Item");
const QString kPromptIface = QStringLiteral("org.freedesktop.Secret.Prompt");
const QString kLockedError = QStringLiteral("org.freedesktop.Secret.Error.IsLocked");
const QString kNoPath = QStringLiteral("/");
// A keyring slower than this shows the wait indicator.
constexpr int kSlowMs = 400;

// ---------------------------------------------------------------------------
// The keychain library, for a desktop whose only keyring is an old KWallet.

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
        return {Status::Refused, {},
                QStringLiteral("The desktop keyring did not answer within %1 seconds.").arg(timeoutMs / 1000)};
    }
    Answer answer = answerOf(*job);
    if (auto *reading = qobject_cast<QKeychain::ReadPasswordJob *>(job); reading && answer.status == Status::Ok)
        answer.secret = reading->textData();
    delete job;
    return answer;
}

// ---------------------------------------------------------------------------
// Which keyring answers.

bool registeredOrActivatable(const QStringList &names)
{
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface())
        return false;
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

enum class Backend { None, SecretService, KWallet };

// Asked first because a missing service would come back as an error like
// any other, and no keyring is not a refusal.
Backend backend()
{
    if (registeredOrActivatable({kSecretsName}))
        return Backend::SecretService;
    if (registeredOrActivatable({QStringLiteral("org.kde.kwalletd5"), QStringLiteral("org.kde.kwalletd6")}))
        return Backend::KWallet;
    return Backend::None;
}

// ---------------------------------------------------------------------------
// The Secret Service over D-Bus.

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

QList<QDBusObjectPath> pathsOf(const QVariant &value)
{
    QList<QDBusObjectPath> paths;
    if (value.canConvert<QDBusArgument>())
        value.value<QDBusArgument>() >> paths;
    else
        paths = value.value<QList<QDBusObjectPath>>();
    return paths;
}

QDBusObjectPath pathOf(const QVariant &value)
{
    return value.value<QDBusObjectPath>();
}

// One conversation with the Secret Service: its calls are made without
// blocking and waited for in a local event loop, each bounded, with the
// indicator shown when the keyring is slow or its prompt is open.
class SecretService {
public:
    SecretService(int timeoutMs, const KeyringWaitIndicator &indicator)
        : m_bus(QDBusConnection::sessionBus())
        , m_timeoutMs(timeoutMs)
        , m_indicator(indicator)
    {
        static const bool registered = [] {
            qDBusRegisterMetaType<SecretServiceValue>();
            qDBusRegisterMetaType<StringMap>();
            qDBusRegisterMetaType<QList<QDBusObjectPath>>();
            return true;
        }();
        Q_UNUSED(registered);
    }
    ~SecretService()
    {
        if (!m_session.isEmpty())
            m_bus.asyncCall(QDBusMessage::createMethodCall(kSecretsName, m_session,
                                                           QStringLiteral("org.freedesktop.Secret.Session"),
                                                           QStringLiteral("Close")));
    }
    SecretService(const SecretService &) = delete;
    SecretService &operator=(const SecretService &) = delete;

    // The attributes that find a profile's entry of a kind.
    static StringMap attributes(const QString &label)
    {
        return {{QStringLiteral("server"), KeyringSecretStore::service()}, {QStringLiteral("user"), label}};
    }

    // Items with these attributes, unlocked and locked.
    bool search(const StringMap &attributes, QList<QDBusObjectPath> *unlocked, QList<QDBusObjectPath> *locked)
    {
        QDBusMessage reply;
        if (!call(kServicePath, kServiceIface, QStringLiteral("SearchItems"), {QVariant::fromValue(attributes)},
                  &reply))
            return false;
        *unlocked = pathsOf(reply.arguments().value(0));
        *locked = pathsOf(reply.arguments().value(1));
        return true;
    }

    // Unlocks the objects through the keyring's own prompt, where the user
    // may answer it (a wait indicator is set); else says it is locked.
    bool unlock(const QList<QDBusObjectPath> &objects)
    {
        if (!m_indicator) {
            fail(Status::Locked, KeyringSecretStore::lockedText());
            return false;
        }
        QDBusMessage reply;
        if (!call(kServicePath, kServiceIface, QStringLiteral("Unlock"), {QVariant::fromValue(objects)}, &reply))
            return false;
        const QDBusObjectPath prompt = pathOf(reply.arguments().value(1));
        if (prompt.path() == kNoPath)
            return true;
        PromptListener listener;
        if (!runPrompt(prompt, &listener))
            return false;
        if (listener.dismissed) {
            fail(Status::Locked, KeyringSecretStore::lockedText());
            return false;
        }
        return true;
    }

    bool openSession()
    {
        if (!m_session.isEmpty())
            return true;
        QDBusMessage reply;
        if (!call(kServicePath, kServiceIface, QStringLiteral("OpenSession"),
                  {QStringLiteral("plain"), QVariant::fromValue(QDBusVariant(QString()))}, &reply))
            return false;
        m_session = pathOf(reply.arguments().value(1)).path();
        return true;
    }

    bool secretOf(const QDBusObjectPath &item, QString *secret)
    {
        if (!openSession())
            return false;
        QDBusMessage reply;
        if (!call(item.path(), kItemIface, QStringLiteral("GetSecret"),
                  {QVariant::fromValue(QDBusObjectPath(m_session))}, &reply))
            return false;
        SecretServiceValue value;
        reply.arguments().value(0).value<QDBusArgument>() >> value;
        *secret = QString::fromUtf8(value.value);
        return true;
    }

    // The collection new entries go to: the default one, made when missing.
    bool defaultCollection(QDBusObjectPath *collection)
    {
        QDBusMessage reply;
        if (!call(kServicePath, kServiceIface, QStringLiteral("ReadAlias"), {QStringLiteral("default")}, &reply))
            return false;
        *collection = pathOf(reply.arguments().value(0));
        if (collection->path() != kNoPath)
            return true;
        const QVariantMap properties{{QStringLiteral("org.freedesktop.Secret.Collection.Label"),
                                      QStringLiteral("Default keyring")}};
        if (!call(kServicePath, kServiceIface, QStringLiteral("CreateCollection"),
                  {properties, QStringLiteral("default")}, &reply))
            return false;
        *collection = pathOf(reply.arguments().value(0));
        const QDBusObjectPath prompt = pathOf(reply.arguments().value(1));
        if (prompt.path() != kNoPath) {
            PromptListener listener;
            if (!runPrompt(prompt, &listener))
                return false;
            if (listener.dismissed)
                return fail(Status::Refused, QStringLiteral("The keyring was not created."));
            *collection = pathOf(listener.result.variant());
        }
        return collection->path() != kNoPath || fail(Status::Refused, QStringLiteral("The keyring has no collection."));
    }

    // Stores the secret under the label, replacing any entry of the same
    // attributes; the item made is returned.
    bool create(const QDBusObjectPath &collection, const QString &label, const QString &secret,
                QDBusObjectPath *item)
    {
        if (!openSession())
            return false;
        StringMap attributes = SecretService::attributes(label);
        // As the keychain library wrote them, so that older versions read them.
        attributes.insert(QStringLiteral("type"), QStringLiteral("plaintext"));
        attributes.insert(QStringLiteral("xdg:schema"), QStringLiteral("org.qt.keychain"));
        const QVariantMap properties{{QStringLiteral("org.freedesktop.Secret.Item.Label"), label},
                                     {QStringLiteral("org.freedesktop.Secret.Item.Attributes"),
                                      QVariant::fromValue(attributes)}};
        SecretServiceValue value{QDBusObjectPath(m_session), {}, secret.toUtf8(), QStringLiteral("text/plain")};
        for (int attempt = 0;; ++attempt) {
            QDBusMessage reply;
            m_undoLateItem = true; // a reply after the program gave up is undone
            const bool answered = call(collection.path(), kCollectionIface, QStringLiteral("CreateItem"),
                                       {properties, QVariant::fromValue(value), true}, &reply);
            m_undoLateItem = false;
            if (!answered) {
                if (attempt == 0 && m_lockedError && unlock({collection}))
                    continue;
                return false;
            }
            *item = pathOf(reply.arguments().value(0));
            const QDBusObjectPath prompt = pathOf(reply.arguments().value(1));
            if (prompt.path() == kNoPath)
                return true;
            PromptListener listener;
            if (!runPrompt(prompt, &listener))
                return false;
            if (listener.dismissed)
                return fail(Status::Refused, QStringLiteral("The keyring's prompt was dismissed."));
            *item = pathOf(listener.result.variant());
            return true;
        }
    }

    bool deleteItem(const QDBusObjectPath &item)
    {
        for (int attempt = 0;; ++attempt) {
            QDBusMessage reply;
            if (!call(item.path(), kItemIface, QStringLiteral("Delete"), {}, &reply)) {
                if (attempt == 0 && m_lockedError && unlock({item}))
                    continue;
                return false;
            }
            const QDBusObjectPath prompt = pathOf(reply.arguments().value(0));
            if (prompt.path() == kNoPath)
                return true;
            PromptListener listener;
            if (!runPrompt(prompt, &listener))
                return false;
            return !listener.dismissed || fail(Status::Refused, QStringLiteral("The keyring's prompt was dismissed."));
        }
    }

    Answer failure() const { return {m_status, {}, m_error}; }

private:
    bool fail(Status status, const QString &error)
    {
        m_status = status;
        m_error = error;
        return false;
    }

    // Waits for the call, showing the indicator once it is slow; false on an
    // error, after the time limit, or on Cancel (with the reason kept).
    bool call(const QString &path, const QString &iface, const QString &method, const QVariantList &arguments,
              QDBusMessage *reply)
    {
        m_lockedError = false;
        QDBusMessage message = QDBusMessage::createMethodCall(kSecretsName, path, iface, method);
        message.setArguments(arguments);
        auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(message, m_timeoutMs + 5000));
        bool cancelled = false;
        bool timedOut = false;
        if (!watcher->isFinished()) {
            QEventLoop loop;
            QObject::connect(watcher, &QDBusPendingCallWatcher::finished, &loop, &QEventLoop::quit);
            QTimer limit;
            limit.setSingleShot(true);
            QObject::connect(&limit, &QTimer::timeout, &loop, [&] {
                timedOut = true;
                loop.quit();
            });
            limit.start(m_timeoutMs);
            std::function<void()> takeDown;
            QTimer slow;
            slow.setSingleShot(true);
            QObject::connect(&slow, &QTimer::timeout, &loop, [&] {
                if (m_indicator)
                    takeDown = m_indicator(QStringLiteral("Waiting for the desktop keyring..."), [&] {
                        cancelled = true;
                        loop.quit();
                    });
            });
            slow.start(kSlowMs);
            loop.exec();
            if (takeDown)
                takeDown();
        }
        if (cancelled || timedOut) {
            // Given up: should a new entry still come of it, it is removed.
            const bool undo = m_undoLateItem;
            QDBusConnection bus = m_bus;
            QObject::connect(watcher, &QDBusPendingCallWatcher::finished, [watcher, undo, bus] {
                const QDBusMessage late = watcher->reply();
                const QString item = pathOf(late.arguments().value(0)).path();
                if (undo && late.type() == QDBusMessage::ReplyMessage && !item.isEmpty() && item != kNoPath)
                    bus.asyncCall(
                        QDBusMessage::createMethodCall(kSecretsName, item, kItemIface, QStringLiteral("Delete")));
                watcher->deleteLater();
            });
            if (cancelled)
                return fail(Status::Refused, QStringLiteral("Waiting for the desktop keyring was cancelled."));
            return fail(Status::Refused,
                        QStringLiteral("The desktop keyring did not answer within %1 seconds.").arg(m_timeoutMs / 1000));
        }
        *reply = watcher->reply();
        delete watcher;
        if (reply->type() == QDBusMessage::ErrorMessage) {
            m_lockedError = reply->errorName() == kLockedError;
            if (m_lockedError)
                return fail(Status::Locked, KeyringSecretStore::lockedText());
            return fail(Status::Refused, reply->errorMessage().isEmpty() ? reply->errorName() : reply->errorMessage());
        }
        return true;
    }

    // Shows the keyring's prompt and waits for the user to finish it, as
    // long as that takes; Cancel withdraws it. False when it could not be
    // shown or was cancelled; `listener` says how it ended otherwise.
    bool runPrompt(const QDBusObjectPath &prompt, PromptListener *listener)
    {
        if (!m_indicator) {
            // Nobody to answer it: withdrawn at once.
            m_bus.asyncCall(QDBusMessage::createMethodCall(kSecretsName, prompt.path(), kPromptIface,
                                                           QStringLiteral("Dismiss")));
            return fail(Status::Refused, QStringLiteral("The desktop keyring asks for a confirmation, which only "
                                                        "Trelvik's window can give."));
        }
        if (!m_bus.connect(kSecretsName, prompt.path(), kPromptIface, QStringLiteral("Completed"), listener,
                           SLOT(onCompleted(bool,QDBusVariant))))
            return fail(Status::Refused, QStringLiteral("The keyring's prompt could not be followed."));
        bool cancelled = false;
        QEventLoop loop;
        QObject::connect(listener, &PromptListener::done, &loop, &QEventLoop::quit);
        const std::function<void()> takeDown = m_indicator(
            QStringLiteral("Waiting for the desktop keyring: answer its window, or press Cancel."), [&] {
                cancelled = true;
                loop.quit();
            });
        QDBusMessage shown;
        const bool ok = call(prompt.path(), kPromptIface, QStringLiteral("Prompt"), {QString()}, &shown);
        if (ok && !listener->completed && !cancelled)
            loop.exec();
        takeDown();
        m_bus.disconnect(kSecretsName, prompt.path(), kPromptIface, QStringLiteral("Completed"), listener,
                         SLOT(onCompleted(bool,QDBusVariant)));
        if (!ok)
            return false;
        if (cancelled && !listener->completed) {
            m_bus.asyncCall(QDBusMessage::createMethodCall(kSecretsName, prompt.path(), kPromptIface,
                                                           QStringLiteral("Dismiss")));
            return fail(Status::Refused, QStringLiteral("Waiting for the desktop keyring was cancelled."));
        }
        return true;
    }

    QDBusConnection m_bus;
    int m_timeoutMs;
    const KeyringWaitIndicator &m_indicator;
    QString m_session;
    Status m_status = Status::Refused;
    QString m_error;
    bool m_lockedError = false;
    bool m_undoLateItem = false;
};

Answer noKeyring()
{
    return {Status::NoKeyring, {}, QStringLiteral("No desktop keyring is running.")};
}

} // namespace

KeyringSecretStore::KeyringSecretStore(int timeoutMs)
    : m_timeoutMs(timeoutMs)
{
}

QString KeyringSecretStore::lockedText()
{
    return QStringLiteral("The desktop keyring is locked. Unlock it with your keyring manager (in Passwords and "
                          "Keys: right-click the keyring, then Unlock) and try again; Trelvik's window reads it "
                          "again when you open the profile's Setting.");
}

SecretStore::Answer KeyringSecretStore::read(const QString &profile, SecretKind kind)
{
    const QString label = secretLabel(profile, kind);
    switch (backend()) {
    case Backend::None:
        return noKeyring();
    case Backend::KWallet: {
        auto *job = new QKeychain::ReadPasswordJob(service());
        job->setKey(label);
        return runKeychain(job, m_timeoutMs);
    }
    case Backend::SecretService:
        break;
    }
    SecretService keyring(m_timeoutMs, m_indicator);
    QList<QDBusObjectPath> unlocked;
    QList<QDBusObjectPath> locked;
    if (!keyring.search(SecretService::attributes(label), &unlocked, &locked))
        return keyring.failure();
    if (unlocked.isEmpty() && locked.isEmpty())
        return {Status::NotFound, {}, QStringLiteral("The keyring has no such entry any more.")};
    if (unlocked.isEmpty()) {
        if (!keyring.unlock(locked))
            return keyring.failure();
        unlocked = locked;
    }
    Answer answer;
    if (!keyring.secretOf(unlocked.constFirst(), &answer.secret))
        return keyring.failure();
    return answer;
}

SecretStore::Answer KeyringSecretStore::write(const QString &profile, SecretKind kind, const QString &secret)
{
    const QString label = secretLabel(profile, kind);
    switch (backend()) {
    case Backend::None:
        return noKeyring();
    case Backend::KWallet: {
        auto *job = new QKeychain::WritePasswordJob(service());
        job->setKey(label);
        job->setTextData(secret);
        return runKeychain(job, m_timeoutMs);
    }
    case Backend::SecretService:
        break;
    }
    SecretService keyring(m_timeoutMs, m_indicator);
    QDBusObjectPath collection;
    QDBusObjectPath item;
    if (!keyring.defaultCollection(&collection) || !keyring.create(collection, label, secret, &item))
        return keyring.failure();
    // Older entries of the same name that were not replaced (another
    // collection, other attributes) would be read instead: they go.
    QList<QDBusObjectPath> unlocked;
    QList<QDBusObjectPath> locked;
    if (keyring.search(SecretService::attributes(label), &unlocked, &locked)) {
        for (const QDBusObjectPath &other : unlocked + locked) {
            if (other != item)
                keyring.deleteItem(other);
        }
    }
    return {};
}

SecretStore::Answer KeyringSecretStore::remove(const QString &profile, SecretKind kind)
{
    const QString label = secretLabel(profile, kind);
    switch (backend()) {
    case Backend::None:
        return noKeyring();
    case Backend::KWallet: {
        auto *job = new QKeychain::DeletePasswordJob(service());
        job->setKey(label);
        return runKeychain(job, m_timeoutMs);
    }
    case Backend::SecretService:
        break;
    }
    SecretService keyring(m_timeoutMs, m_indicator);
    QList<QDBusObjectPath> unlocked;
    QList<QDBusObjectPath> locked;
    if (!keyring.search(SecretService::attributes(label), &unlocked, &locked))
        return keyring.failure();
    if (unlocked.isEmpty() && locked.isEmpty())
        return {Status::NotFound, {}, {}};
    bool allGone = true;
    for (const QDBusObjectPath &item : unlocked + locked)
        allGone = keyring.deleteItem(item) && allGone;
    return allGone ? Answer{} : keyring.failure();
}

namespace {
KeyringSecretStore &theDesktopKeyring()
{
    static KeyringSecretStore keyring;
    return keyring;
}
} // namespace

SecretStore &desktopKeyring()
{
    return theDesktopKeyring();
}

void setDesktopKeyringWaitIndicator(KeyringWaitIndicator indicator)
{
    theDesktopKeyring().setWaitIndicator(std::move(indicator));
}

#include "KeyringSecretStore.moc"
