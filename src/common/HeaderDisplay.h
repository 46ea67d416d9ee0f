#pragma once

#include <QString>

// Header values as a person reads them. The raw values stay exactly as the
// server sent them for everything the program does with them; these texts are
// only ever shown.
namespace HeaderDisplay {

// A header value for display: folded lines joined, RFC 2047 encoded words
// (B and Q, any charset the converter knows) decoded, white space between two
// adjacent encoded words dropped, control characters shown as spaces, the
// ends trimmed. Lenient with what real mail carries: an encoded word glued to
// text is decoded, a word in an unknown charset is left as it was, broken
// base64 decodes as far as it goes.
QString decodedText(const QString &raw);

// A tooltip that shows `text` exactly as it is. Qt draws a tooltip that looks
// like markup as markup, so a sender could style it or have it load images.
QString plainToolTip(const QString &text);

} // namespace HeaderDisplay
