#include "SecretServiceClient.h"

#include "KeyringSecretStore.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QEventLoop>
#include <QTimer>

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

using namespace SecretServiceNames;
using Status = SecretStore::Status;

namespace {

// A keyring slower than this shows the wait indicator.
constexpr int kSlowMs = 400;

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

} // namespace

SecretServiceClient::SecretServiceClient(int timeoutMs, const KeyringWaitIndicator &indicator)
    : m_bus(QDBusConnection::sessionBus())
    , m_timeoutMs(timeoutMs)
    , m_indicator(indicator)
{
    static const bool registered = [] {
        qDBusRegisterMetaType<SecretServiceValue>();
        qDBusRegisterMetaType<Attributes>();
        qDBusRegisterMetaType<QList<QDBusObjectPath>>();
        return true;
    }();
    Q_UNUSED(registered);
}

SecretServiceClient::~SecretServiceClient()
{
    if (!m_session.isEmpty())
        m_bus.asyncCall(QDBusMessage::createMethodCall(kService, m_session,
                                                       QStringLiteral("org.freedesktop.Secret.Session"),
                                                       QStringLiteral("Close")));
}

SecretServiceClient::Attributes SecretServiceClient::attributes(const QString &label)
{
    return {{QStringLiteral("server"), KeyringSecretStore::service()}, {QStringLiteral("user"), label}};
}

bool SecretServiceClient::search(const Attributes &attributes, QList<QDBusObjectPath> *unlocked,
                                 QList<QDBusObjectPath> *locked)
{
    QDBusMessage reply;
    if (!call(kServicePath, kServiceIface, QStringLiteral("SearchItems"), {QVariant::fromValue(attributes)}, &reply))
        return false;
    *unlocked = pathsOf(reply.arguments().value(0));
    *locked = pathsOf(reply.arguments().value(1));
    return true;
}

bool SecretServiceClient::openSession()
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

bool SecretServiceClient::secretOf(const QDBusObjectPath &item, QString *secret)
{
    if (!openSession())
        return false;
    QDBusMessage reply;
    if (!call(item.path(), kItemIface, QStringLiteral("GetSecret"), {QVariant::fromValue(QDBusObjectPath(m_session))},
              &reply))
        return false;
    SecretServiceValue value;
    reply.arguments().value(0).value<QDBusArgument>() >> value;
    *secret = QString::fromUtf8(value.value);
    return true;
}

bool SecretServiceClient::defaultCollection(QDBusObjectPath *collection)
{
    QDBusMessage reply;
    if (!call(kServicePath, kServiceIface, QStringLiteral("ReadAlias"), {QStringLiteral("default")}, &reply))
        return false;
    *collection = pathOf(reply.arguments().value(0));
    if (collection->path() != kNoPath)
        return true;
    const QVariantMap properties{
        {QStringLiteral("org.freedesktop.Secret.Collection.Label"), QStringLiteral("Default keyring")}};
    if (!call(kServicePath, kServiceIface, QStringLiteral("CreateCollection"), {properties, QStringLiteral("default")},
              &reply))
        return false;
    *collection = pathOf(reply.arguments().value(0));
    const QDBusObjectPath prompt = pathOf(reply.arguments().value(1));
    if (prompt.path() != kNoPath) {
        PromptOutcome outcome;
        if (!runPrompt(prompt, &outcome))
            return false;
        if (outcome.dismissed)
            return fail(Status::Refused, QStringLiteral("The keyring was not created."));
        *collection = pathOf(outcome.result.variant());
    }
    return collection->path() != kNoPath || fail(Status::Refused, QStringLiteral("The keyring has no collection."));
}

bool SecretServiceClient::create(const QDBusObjectPath &collection, const QString &label, const QString &secret,
                                 QDBusObjectPath *item)
{
    if (!openSession())
        return false;
    Attributes attributes = SecretServiceClient::attributes(label);
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
        PromptOutcome outcome;
        if (!runPrompt(prompt, &outcome))
            return false;
        if (outcome.dismissed)
            return fail(Status::Refused, QStringLiteral("The keyring's prompt was dismissed."));
        *item = pathOf(outcome.result.variant());
        return true;
    }
}

bool SecretServiceClient::deleteItem(const QDBusObjectPath &item)
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
        PromptOutcome outcome;
        if (!runPrompt(prompt, &outcome))
            return false;
        return !outcome.dismissed || fail(Status::Refused, QStringLiteral("The keyring's prompt was dismissed."));
    }
}

bool SecretServiceClient::fail(Status status, const QString &error)
{
    m_status = status;
    m_error = error;
    return false;
}

bool SecretServiceClient::call(const QString &path, const QString &iface, const QString &method,
                               const QVariantList &arguments, QDBusMessage *reply)
{
    m_lockedError = false;
    QDBusMessage message = QDBusMessage::createMethodCall(kService, path, iface, method);
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
                bus.asyncCall(QDBusMessage::createMethodCall(kService, item, kItemIface, QStringLiteral("Delete")));
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
