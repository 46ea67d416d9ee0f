#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <functional>

// Writes one JSON document piece by piece, as the values come, in the
// layout QJsonDocument::toJson(Indented) gives (four spaces a level, the same
// escapes), so that a report of many thousands of rows is never held whole
// in memory. Keys are written in the order given: callers that promise the
// same bytes as a QJsonObject give them in its order (sorted).
class JsonStreamWriter {
public:
    using Sink = std::function<void(QByteArrayView)>;
    // The text goes to `sink` in pieces of about `chunkBytes`, and the rest
    // at finish().
    explicit JsonStreamWriter(Sink sink, qsizetype chunkBytes = 64 * 1024);

    void beginObject();
    void endObject();
    void beginArray();
    void endArray();
    // The key of the next value inside an object.
    void key(QStringView name);
    void value(QStringView text);
    void value(qint64 number);
    void nullValue();
    void boolValue(bool value); // not value(): an int would then be ambiguous
    // key() and value() together.
    void field(QStringView name, QStringView text);
    void field(QStringView name, qint64 number);
    // Ends the document with a line break and hands over what is left.
    void finish();

    // A string as QJsonDocument writes it, quotes included, except that half
    // a surrogate pair is written as U+FFFD.
    static void appendString(QByteArray &out, QStringView text);

private:
    void beforeValue();
    void close(char bracket);
    void flushIfFull();

    Sink m_sink;
    qsizetype m_chunkBytes;
    QByteArray m_buffer;
    QList<bool> m_empty; // per open container: nothing written in it yet
    bool m_afterKey = false;
};
