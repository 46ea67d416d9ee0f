#pragma once

#include "Global.h"
#include "MailOperations.h"
#include "MessageBox.h"
#include "MessageFolderModel.h"
#include "RecordingStatus.h"
#include "ScriptedPop3Server.h"
#include "TestSupport.h"
#include "WindowWords.h"

#include <QSet>
#include <memory>

// What every mail test sets up: a scripted server, a profile pointing at it,
// the two folders, a status recorder, message boxes answered, fake rules.
struct MailFixture {
    MailFixture()
    {
        server.listen();
        settings = {};
        settings.EmailHost = QStringLiteral("127.0.0.1");
        settings.EmailPort = QString::number(server.port());
        settings.EmailUserid = QStringLiteral("user");
        settings.EmailPassword = QStringLiteral("secret");
        Global::CancelRequested().clear();
    }

    MessageClassifier classifier() const
    {
        return [this](const QString &sender, QByteArrayView header, qint64 size) {
            return RuleClassifier::fromLists(filter.values(), exempted.values()).classify(sender, header, size);
        };
    }

    // Short enough that a silent server ends a test quickly.
    static constexpr int kTestLimitMs = 400;

    // A result's text shown as the window shows it, so that tests expect
    // the same boxes whichever front end reports them.
    static MailOutcome shown(const MailResult &result)
    {
        if (result.hasMessage())
            MessageBox::show(WindowWords::text(result.text, result.reason, result.protocolServer), result.title,
                             MessageBox::Icon::Critical);
        return result.kind;
    }
    static DeletionResult shown(DeletionResult deletion)
    {
        shown(deletion.result);
        return deletion;
    }

    MailOutcome fetch(int limitMs = 5000)
    {
        options.inactivityLimitMs = limitMs;
        return shown(FetchHeader(status, inbox, recycle, classifier(), settings, Global::CancelRequested(), options));
    }
    DeletionResult empty(int limitMs = 5000)
    {
        options.inactivityLimitMs = limitMs;
        return shown(EmptyRecycleBin(status, recycle, settings, Global::CancelRequested(), options));
    }

    ProfileSettingsRecord settings; // the profile the runs work on
    SessionOptions options; // the time limit is set by fetch() and empty()
    testsupport::ScriptedPop3Server server;
    testsupport::MessageBoxRecorder boxes;
    RecordingStatus status;
    MessageFolderModel inbox;
    MessageFolderModel recycle;
    QSet<QString> filter; // lower case
    QSet<QString> exempted; // lower case
};

inline QStringList rowTexts(const MessageFolderModel &model, int column)
{
    QStringList out;
    for (int r = 0; r < model.count(); ++r)
        out << model.entry(r).text(column);
    return out;
}

inline QList<qint32> rowNumbers(const MessageFolderModel &model)
{
    QList<qint32> out;
    for (int r = 0; r < model.count(); ++r)
        out << model.entry(r).number;
    return out;
}
