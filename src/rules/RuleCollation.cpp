#include "RuleCollation.h"

#include <QChar>

namespace RuleCollation {

namespace {

// Bytes that are not well-formed UTF-8 stand for themselves, above every
// code point, so that any text has one place in the order.
constexpr char32_t kInvalidBase = 0x110000;

char32_t nextCodePoint(const unsigned char *&p, const unsigned char *end)
{
    const unsigned char lead = *p++;
    if (lead < 0x80)
        return lead;
    int length;
    char32_t cp;
    if ((lead & 0xE0) == 0xC0) {
        length = 1;
        cp = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 2;
        cp = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 3;
        cp = lead & 0x07;
    } else {
        return kInvalidBase + lead;
    }
    if (end - p < length)
        return kInvalidBase + lead;
    for (int i = 0; i < length; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return kInvalidBase + lead;
    }
    for (int i = 0; i < length; ++i)
        cp = (cp << 6) | (p[i] & 0x3F);
    p += length;
    return cp;
}

// Simple (one to one) Unicode case folding of one code point.
char32_t fold(char32_t cp)
{
    if (cp < 0x80)
        return (cp >= 'A' && cp <= 'Z') ? cp + ('a' - 'A') : cp;
    if (cp > 0x10FFFF)
        return cp;
    return QChar::toCaseFolded(cp);
}

} // namespace

int compareUtf8(const char *a, int aLength, const char *b, int bLength)
{
    // Texts are compared code point by code point after folding each one,
    // which orders every case variant of a value together and is a
    // consistent total order, as an index needs.
    const auto *pa = reinterpret_cast<const unsigned char *>(a);
    const auto *pb = reinterpret_cast<const unsigned char *>(b);
    const unsigned char *const endA = pa + aLength;
    const unsigned char *const endB = pb + bLength;
    while (pa < endA && pb < endB) {
        const char32_t ca = fold(nextCodePoint(pa, endA));
        const char32_t cb = fold(nextCodePoint(pb, endB));
        if (ca != cb)
            return ca < cb ? -1 : 1;
    }
    if (pa < endA)
        return 1;
    return pb < endB ? -1 : 0;
}

bool sameRule(const QString &a, const QString &b)
{
    if (a == b)
        return true;
    const QByteArray ua = a.toUtf8();
    const QByteArray ub = b.toUtf8();
    return compareUtf8(ua.constData(), int(ua.size()), ub.constData(), int(ub.size())) == 0;
}

QString key(const QString &value)
{
    QString out;
    out.reserve(value.size());
    const QByteArray utf8 = value.toUtf8();
    const auto *p = reinterpret_cast<const unsigned char *>(utf8.constData());
    const unsigned char *const end = p + utf8.size();
    while (p < end) {
        const char32_t cp = fold(nextCodePoint(p, end));
        // Valid texts only reach here (they came from QString).
        const char32_t c[] = {cp};
        out.append(QString::fromUcs4(c, 1));
    }
    return out;
}

} // namespace RuleCollation
