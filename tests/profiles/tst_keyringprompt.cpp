// A keyring that must ask its user first (locked): a Secret Service of the
// test's own on a private bus, whose unlock prompt stays open until the test
// answers it. The window waits for as long as the prompt is open, showing a
// busy box with Cancel; Cancel withdraws the prompt and nothing is written
// afterwards; without a window nobody is asked.
#include "KeyringSecretStore.h"
#include "KeyringWaitDialog.h"
#include "PrivateKeyring.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QProgressDialog>
#include <QPushButton>
#include <QTest>
#include <QTimer>

namespace {

const QString kRoot = QStringLiteral("/org/freedesktop/secrets");
const QString kCollection = kRoot + QStringLiteral("/collection/login");
const QString kPrompt = kRoot + QStringLiteral("/prompt/1");
const QString kItem = kCollection + QStringLiteral("/1");

// Just enough of the Secret Service for a write to a locked collection.
class FakeSecrets : public QDBusVirtualObject {
public:
    explicit FakeSecrets(QDBusConnection bus)
        : m_bus(bus)
    {
    }
    bool locked = true;
    int prompts = 0;
    int dismissals = 0;
    int unlocks = 0;
    QStringList created; // labels of the items made
    std::function<void()> onPrompt;

    // The user answers the keyring's own window.
    void complete(bool dismissed)
    {
        if (!dismissed)
            locked = false;
        QDBusMessage signal = QDBusMessage::createSignal(kPrompt, QStringLiteral("org.freedesktop.Secret.Prompt"),
                                                         QStringLiteral("Completed"));
        signal << dismissed << QVariant::fromValue(QDBusVariant(QVariant::fromValue(QList<QDBusObjectPath>{})));
        m_bus.send(signal);
    }

    QString introspect(const QString &) const override { return {}; }
    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override
    {
        const QString method = message.member();
        QDBusMessage reply = message.createReply();
        const auto none = QVariant::fromValue(QList<QDBusObjectPath>{});
        if (method == QLatin1String("SearchItems")) {
            reply << none << none;
        } else if (method == QLatin1String("ReadAlias")) {
            reply << QVariant::fromValue(QDBusObjectPath(kCollection));
        } else if (method == QLatin1String("OpenSession")) {
            reply << QVariant::fromValue(QDBusVariant(QString()))
                  << QVariant::fromValue(QDBusObjectPath(kRoot + "/session/1"));
        } else if (method == QLatin1String("CreateItem")) {
            if (locked) {
                reply = message.createErrorReply(QStringLiteral("org.freedesktop.Secret.Error.IsLocked"),
                                                 QStringLiteral("Cannot create an item in a locked collection"));
            } else {
                const QVariantMap properties = qdbus_cast<QVariantMap>(message.arguments().value(0));
                created << properties.value(QStringLiteral("org.freedesktop.Secret.Item.Label")).toString();
                reply << QVariant::fromValue(QDBusObjectPath(kItem))
                      << QVariant::fromValue(QDBusObjectPath(QStringLiteral("/")));
            }
        } else if (method == QLatin1String("Unlock")) {
            ++unlocks;
            reply << none << QVariant::fromValue(QDBusObjectPath(kPrompt));
        } else if (method == QLatin1String("Prompt")) {
            ++prompts;
            if (onPrompt)
                QTimer::singleShot(0, [this] { onPrompt(); });
        } else if (method == QLatin1String("Dismiss")) {
            ++dismissals;
            complete(true);
        }
        connection.send(reply);
        return true;
    }

private:
    QDBusConnection m_bus;
};

// The busy box on screen now, if any.
QProgressDialog *waitBox()
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (w->objectName() == QLatin1String("dlgKeyringWait") && w->isVisible())
            return qobject_cast<QProgressDialog *>(w);
    }
    return nullptr;
}

// Longer than the store's time limit for a plain call below.
constexpr int kLongerThanLimitMs = 1000;

} // namespace

class TestKeyringPrompt : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        QString why;
        if (!testsupport::PrivateKeyring::available(&why))
            QSKIP(qPrintable(why));
        QVERIFY2(keyring.start(&why), qPrintable(why));
        keyring.stopKeyring(); // the bus stays: the fake answers on it instead
        qDBusRegisterMetaType<QList<QDBusObjectPath>>();
        bus = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(QString::fromLatin1(qgetenv("DBUS_SESSION_BUS_ADDRESS")),
                                          QStringLiteral("fake-secrets")));
        QVERIFY(bus->isConnected());
        QVERIFY(bus->registerService(QStringLiteral("org.freedesktop.secrets")));
    }
    void init()
    {
        fake = std::make_unique<FakeSecrets>(*bus);
        QVERIFY(bus->registerVirtualObject(kRoot, fake.get(), QDBusConnection::SubPath));
    }
    void cleanup()
    {
        bus->unregisterObject(kRoot, QDBusConnection::UnregisterTree);
        fake.reset();
    }

    void waitsForPromptThenWrites();
    void cancelWithdrawsPrompt();
    void noWindowNoPrompt();

private:
    testsupport::PrivateKeyring keyring;
    std::unique_ptr<QDBusConnection> bus;
    std::unique_ptr<FakeSecrets> fake;
};

// The user takes longer than any time limit over the keyring's window: the
// busy box shows meanwhile, and the write happens once it is unlocked.
void TestKeyringPrompt::waitsForPromptThenWrites()
{
    KeyringSecretStore store(300);
    store.setWaitIndicator(keyringWaitDialog());
    bool boxShown = false;
    fake->onPrompt = [&] {
        QTimer::singleShot(kLongerThanLimitMs, [&] {
            boxShown = waitBox() != nullptr;
            fake->complete(false);
        });
    };
    const SecretStore::Answer answer = store.write(QStringLiteral("Home"), SecretKind::EmailPassword,
                                                   QStringLiteral("pw"));
    QVERIFY2(answer.status == SecretStore::Status::Ok, qPrintable(answer.error));
    QVERIFY(boxShown);
    QCOMPARE(waitBox(), nullptr);
    QCOMPARE(fake->created, QStringList{QStringLiteral("Email password of profile Home")});
}

// Cancel in the busy box: the keyring's prompt is withdrawn, the write is
// reported as not done, and a late unlock writes nothing.
void TestKeyringPrompt::cancelWithdrawsPrompt()
{
    KeyringSecretStore store(300);
    store.setWaitIndicator(keyringWaitDialog());
    fake->onPrompt = [] {
        QTimer::singleShot(kLongerThanLimitMs, [] {
            if (QProgressDialog *box = waitBox())
                box->findChild<QPushButton *>()->click();
        });
    };
    const SecretStore::Answer answer = store.write(QStringLiteral("Home"), SecretKind::EmailPassword,
                                                   QStringLiteral("pw"));
    QCOMPARE(answer.status, SecretStore::Status::Refused);
    QCOMPARE(answer.error, QStringLiteral("Waiting for the desktop keyring was cancelled."));
    QCOMPARE(waitBox(), nullptr);
    fake->complete(false); // the keyring's window answered all the same
    // One more round trip through the fake: whatever the store sent before,
    // or on the late answer, has reached it by then.
    QCOMPARE(store.read(QStringLiteral("Home"), SecretKind::EmailPassword).status, SecretStore::Status::NotFound);
    QCOMPARE(fake->dismissals, 1);
    QCOMPARE(fake->created, QStringList());
}

// The command line has no window to show the keyring's prompt in: a locked
// keyring is reported at once, and nobody is asked.
void TestKeyringPrompt::noWindowNoPrompt()
{
    KeyringSecretStore store(300);
    const SecretStore::Answer answer = store.write(QStringLiteral("Home"), SecretKind::EmailPassword,
                                                   QStringLiteral("pw"));
    QCOMPARE(answer.status, SecretStore::Status::Locked);
    QVERIFY2(answer.error.startsWith(QLatin1String("The desktop keyring is locked. Unlock it")),
             qPrintable(answer.error));
    QCOMPARE(fake->unlocks, 0);
    QCOMPARE(fake->prompts, 0);
    QCOMPARE(fake->created, QStringList());
}

QTEST_MAIN(TestKeyringPrompt)
#include "tst_keyringprompt.moc"
