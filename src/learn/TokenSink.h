#pragma once

#include "HeaderTokens.h"
#include "TokenText.h"

#include <QByteArrayView>
#include <algorithm>
#include <functional>

// Where the tokenizer's readers put a header's tokens: words of a field's
// value as machines or people write them, and domains with their parents.
// Two parts of a tag joined on the stack, for tags made from a field's name;
// empty when they would not fit (no tag is that long).
class Joined {
public:
    Joined(QByteArrayView a, QByteArrayView b)
    {
        if (a.size() + b.size() > qsizetype(sizeof m_bytes))
            return;
        std::copy(a.begin(), a.end(), m_bytes);
        std::copy(b.begin(), b.end(), m_bytes + a.size());
        m_size = a.size() + b.size();
    }
    QByteArrayView view() const { return {m_bytes, m_size}; }

private:
    char m_bytes[64];
    qsizetype m_size = 0;
};

class TokenSink {
public:
    TokenList tokens;
    static constexpr TokenList::Tag kPlainWord = TokenList::tagOf("w");

    void add(QByteArrayView tag, QByteArrayView word) { tokens.add(tag, word); }
    void add(const TokenList::Tag &tag, QByteArrayView word) { tokens.add(tag, word); }
    // The words of a field's value, each untagged ("w": a word seen in
    // another field still carries some of its weight) and, within its first
    // `tagged` bytes, tagged by the field too; one pass for both.
    void machine(QByteArrayView tag, QByteArrayView value, qsizetype tagged = kMachineBytes)
    {
        value = value.first(std::min(value.size(), kMachineBytes));
        const TokenList::Tag fieldTag = TokenList::tagOf(tag);
        const char *taggedEnd = value.data() + std::min(tagged, value.size());
        TokenText::machineWords(value, [&](QByteArrayView w) {
            if (!tag.isEmpty() && w.data() + w.size() <= taggedEnd)
                tokens.add(kPlainWord, fieldTag, w);
            else
                tokens.add(kPlainWord, w);
        });
    }
    static constexpr qsizetype kMachineBytes = 512;
    // The words of a value people read; with `pairs`, adjacent words as
    // pairs too ("<tag>.pair"): a phrase says more than its words.
    void human(QByteArrayView tag, QByteArrayView raw, bool pairs = false)
    {
        // The pair is made on the stack: no token keeps more than
        // kMaxTokenBytes of it, so neither word needs more here.
        constexpr qsizetype kKept = HeaderTokens::kMaxTokenBytes;
        char pair[2 * kKept + 1];
        qsizetype previous = 0; // the previous word's bytes at the start of `pair`
        const TokenList::Tag wordTag = TokenList::tagOf(tag);
        const Joined pairName(tag, ".pair"); // the tag's text is a view of it
        const TokenList::Tag pairTag = TokenList::tagOf(pairName.view());
        auto emitWord = [&](QByteArrayView word) {
            add(wordTag, word);
            if (!pairs)
                return;
            const qsizetype kept = std::min(word.size(), kKept);
            if (previous > 0) {
                pair[previous] = ' ';
                std::copy_n(word.data(), kept, pair + previous + 1);
                add(pairTag, QByteArrayView(pair, previous + 1 + kept));
            }
            std::copy_n(word.data(), kept, pair);
            previous = kept;
        };
        // By reference: a std::function would allocate room for the lambda.
        const TokenText::Emit words = std::ref(emitWord);
        if (!TokenText::asciiHumanWords(raw, words))
            TokenText::humanWords(TokenText::decoded(raw), words);
    }
    // The domain and each parent down to two labels.
    void domain(QByteArrayView tag, QByteArrayView domain)
    {
        if (domain.isEmpty())
            return;
        const Joined parentName(tag, ".parent"); // empty when too long: no parents then
        this->domain(TokenList::tagOf(tag), TokenList::tagOf(parentName.view()), domain);
    }
    void domain(const TokenList::Tag &tag, const TokenList::Tag &parentTag, QByteArrayView domain)
    {
        if (domain.isEmpty())
            return;
        add(tag, domain);
        if (parentTag.text.isEmpty())
            return;
        qsizetype dot = TokenText::indexOf(domain, '.');
        while (dot > 0) {
            const qsizetype next = TokenText::indexOf(domain, '.', dot + 1);
            if (next < 0)
                break;
            add(parentTag, domain.sliced(dot + 1));
            dot = next;
        }
    }
};
