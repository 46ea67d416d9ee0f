#include "AuthFields.h"

#include "HeaderTokens.h"
#include "TokenText.h"

#include <string_view>

namespace {

constexpr qsizetype kMaxParts = 16; // a hostile field is not read to its end

// Calls `part` with each "tag=value" of a tag list ("v=1; a=rsa-sha256;
// d=example.com; ..."), the tag and value trimmed.
template <typename Part>
void forEachTag(QByteArrayView value, Part part)
{
    qsizetype start = 0;
    for (qsizetype n = 0; n < kMaxParts && start < value.size(); ++n) {
        qsizetype end = TokenText::indexOf(value, ';', start);
        if (end < 0)
            end = value.size();
        const QByteArrayView item = value.sliced(start, end - start);
        const qsizetype equals = TokenText::indexOf(item, '=');
        if (equals > 0)
            part(TokenText::trimmed(item.first(equals)), TokenText::trimmed(item.sliced(equals + 1)));
        start = end + 1;
    }
}

bool isWordChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

// The word (a method, a result, a domain) at the start of `text`, at most `most` bytes.
QByteArrayView wordAt(QByteArrayView text, qsizetype most = 32)
{
    qsizetype end = 0;
    while (end < text.size() && end < most && isWordChar(text[end]))
        ++end;
    return text.first(end);
}

// "mx.example; spf=pass (comment) smtp.mailfrom=...; dkim=fail ...": each
// method's result, as "auth:spf=pass". The first part names the server
// that checked (and, in an ARC set, "i=1" comes before it): not a result.
void readResults(QByteArrayView value, TokenList &tokens)
{
    const TokenList::Tag tag = TokenList::tagOf("auth");
    qsizetype start = 0;
    for (qsizetype n = 0; n < kMaxParts && start < value.size(); ++n) {
        qsizetype end = TokenText::indexOf(value, ';', start);
        if (end < 0)
            end = value.size();
        const QByteArrayView item = TokenText::trimmed(value.sliced(start, end - start));
        start = end + 1;
        const QByteArrayView method = wordAt(item);
        if (n == 0 || method.isEmpty() || method == "i" || item.size() <= method.size() || item[method.size()] != '=')
            continue;
        const QByteArrayView result = wordAt(item.sliced(method.size() + 1));
        if (result.isEmpty())
            continue;
        char text[80];
        const qsizetype length = method.size() + 1 + result.size();
        std::copy(method.begin(), method.end(), text);
        text[method.size()] = '=';
        std::copy(result.begin(), result.end(), text + method.size() + 1);
        tokens.add(tag, QByteArrayView(text, length));
    }
}

} // namespace

bool AuthFields::read(QByteArrayView name, QByteArrayView value, TokenList &tokens, QByteArrayList &signers)
{
    const std::string_view field(name.data(), size_t(name.size()));
    if (field == "authentication-results" || field == "arc-authentication-results") {
        readResults(value, tokens);
        return true;
    }
    const bool dkim = field == "dkim-signature" || field == "domainkey-signature";
    if (!dkim && field != "arc-seal" && field != "arc-message-signature")
        return false;
    forEachTag(value, [&](QByteArrayView tag, QByteArrayView word) {
        if (tag == "d") {
            // Lower-cased as the token is added; copied only for a signer.
            const QByteArrayView domain = wordAt(word, HeaderTokens::kMaxTokenBytes);
            if (!domain.contains('.'))
                return;
            tokens.add(dkim ? "dkim.d" : "arc.d", domain);
            if (dkim && signers.size() < 8)
                signers.append(domain.toByteArray().toLower());
        } else if (tag == "s" && dkim) {
            tokens.add("dkim.s", wordAt(word));
        }
    });
    return true;
}
