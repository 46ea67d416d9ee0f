#include "MessageDate.h"

#include "GMimeInit.h"

#include <gmime/gmime.h>

QDateTime parseMessageDate(const QString &raw)
{
    // Folds and tabs are plain white space to the date reader.
    QString text = raw;
    for (QChar &c : text) {
        if (c == u'\r' || c == u'\n' || c == u'\t')
            c = u' ';
    }
    text = text.trimmed();
    if (text.isEmpty())
        return {};

    ensureGMimeInitialised();
    GDateTime *parsed = g_mime_utils_header_decode_date(text.toUtf8().constData());
    if (!parsed)
        return {};
    const qint64 secs = g_date_time_to_unix(parsed);
    const int offset = int(g_date_time_get_utc_offset(parsed) / G_TIME_SPAN_SECOND);
    g_date_time_unref(parsed);
    return QDateTime::fromSecsSinceEpoch(secs, Qt::OffsetFromUTC, offset);
}
