// trelvik-demo-profile: writes a ready-made profile into the per-user settings
// store (the one XDG_CONFIG_HOME points at) and makes it the last used one,
// so that the demo starts with a configured profile, and puts the given rules
// into the rule database. Uses the program's own store, password scrambling
// and database, never a hand-made file.
#include "Profile.h"
#include "RuleDatabase.h"
#include "Scramble.h"
#include "SettingsStore.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Writes a demo profile into Trelvik's settings store."));
    parser.addHelpOption();
    const QCommandLineOption name(QStringLiteral("name"), QStringLiteral("Profile name."), QStringLiteral("name"),
                                  QStringLiteral("Demo"));
    const QCommandLineOption host(QStringLiteral("host"), QStringLiteral("POP3 host."), QStringLiteral("host"),
                                  QStringLiteral("127.0.0.1"));
    const QCommandLineOption port(QStringLiteral("port"), QStringLiteral("POP3 port."), QStringLiteral("port"));
    const QCommandLineOption user(QStringLiteral("user"), QStringLiteral("User ID."), QStringLiteral("user"),
                                  QStringLiteral("demo"));
    const QCommandLineOption password(QStringLiteral("password"), QStringLiteral("Password."),
                                      QStringLiteral("password"), QStringLiteral("demo"));
    const QCommandLineOption filter(QStringLiteral("filter"), QStringLiteral("A filter rule (repeatable)."),
                                    QStringLiteral("rule"));
    const QCommandLineOption exempt(QStringLiteral("exempt"), QStringLiteral("An exempted sender (repeatable)."),
                                    QStringLiteral("rule"));
    const QCommandLineOption protocol(QStringLiteral("protocol"), QStringLiteral("POP3 or IMAP."),
                                      QStringLiteral("protocol"), QStringLiteral("POP3"));
    parser.addOptions({name, host, port, user, password, filter, exempt, protocol});
    parser.process(app);
    if (!parser.isSet(port)) {
        std::fprintf(stderr, "trelvik-demo-profile: --port is required\n");
        return 2;
    }

    using namespace modRegistry;
    const QString key = kSettingKeyPrefix + parser.value(name);
    auto write = [&key](const QString &valueName, const QString &value) {
        WriteStoreValue(HKEY_CURRENT_USER, key, valueName, REG_SZ, value);
    };
    using namespace ProfileKeys;
    QString plain = parser.value(password);
    QString noDialupPassword;
    write(kEmailHost, parser.value(host));
    write(kEmailPort, parser.value(port));
    write(kEmailUserId, parser.value(user));
    write(kEmailPassword, modSecurity::ScrambleText(plain));
    write(kAutodial, QStringLiteral("0"));
    write(kDialupNumber, QString());
    write(kDialupUserID, QString());
    write(kDialupPassword, modSecurity::ScrambleText(noDialupPassword));
    write(kEmailSecurity, QStringLiteral("None"));
    write(kMailProtocol, parser.value(protocol).toUpper());
    WriteStoreValue(HKEY_CURRENT_USER, kTrelvikKey, kLastProfile, REG_SZ, parser.value(name));

    if (parser.isSet(filter) || parser.isSet(exempt)) {
        RuleDatabase rules;
        QString error;
        if (!rules.OpenRuleDatabase(&error) || !rules.InsertRules(QStringLiteral("tbfilter"), parser.values(filter))
            || !rules.InsertRules(QStringLiteral("tbexempted"), parser.values(exempt))) {
            std::fprintf(stderr, "trelvik-demo-profile: cannot write the demo rules: %s\n", qPrintable(error));
            return 1;
        }
        rules.CloseRuleDatabase();
    }
    std::printf("%s\n", qPrintable(StoreFilePath()));
    return 0;
}
