#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

// The public SpamAssassin corpus as the npm package lays it out: one folder
// per group (easy-ham-1, easy-ham-2, hard-ham-1, spam-1, spam-2) of raw
// messages named NNNNN.<md5>.txt. Only headers are kept, and without the
// fields that give the answer away (X-Spam*, X-Virus*, X-Keywords, X-Status).
struct CorpusMessage {
    QString group;
    QString name;
    QByteArray header;
    bool spam = false;
    QDateTime date; // the Date field; invalid when unreadable
};

namespace SpamCorpus {

// The folder holding the groups: $TRELVIK_SPAM_CORPUS, else the npm install
// under the user's cache folder that bench/run makes. Empty when missing.
QString folder();
// Every message of the groups, each group in the order of its file names.
QList<CorpusMessage> load(const QString &folder);
// The header with the telling fields taken out.
QByteArray stripped(QByteArrayView header);

} // namespace SpamCorpus
