#pragma once

#include "Global.h"
#include "MailOperations.h"
#include "MessageFolderModel.h"
#include "RecordingStatus.h"
#include "ScriptedPop3Server.h"
#include "TestSupport.h"

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
        return [this](const QString &sender, const QString &header, qint64 size) {
            return RuleClassifier::fromLists(filter.values(), exempted.values()).classify(sender, header, size);
        };
    }

    // Short enough that a silent server ends a test quickly.
    static constexpr int kTestLimitMs = 400;

    void fetch(int limitMs = 5000)
    {
        options.inactivityLimitMs = limitMs;
        FetchHeader(status, inbox, recycle, classifier(), settings, Global::CancelRequested(), options);
    }
    void empty(int limitMs = 5000)
    {
        options.inactivityLimitMs = limitMs;
        EmptyRecycleBin(status, recycle, settings, Global::CancelRequested(), options);
    }

    ProfileSettingsRecord settings; // the profile the runs work on
    SessionOptions options; // the time limit is set by fetch() and empty()
    testsupport::ScriptedPop3Server server;
    testsupport::MessageBoxRecorder boxes;
    RecordingStatus status;
    MessageFolderModel inbox;
    MessageFolderModel recycle;
    QSet<QString> filter;   // lower case
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
