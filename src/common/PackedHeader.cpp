#include "PackedHeader.h"

#include <QtEndian>
#include <cstring>
#include <zstd.h>

namespace {

// What headers are made of: field names and the phrases of trace fields,
// signatures (RFC 6376, 8617), authentication results (RFC 8601), list and
// MIME fields. The packer finds the most common ones nearest, so they come last.
constexpr char kDictionary[] =
    "X-Priority: 3\r\nX-MS-Exchange-Organization-\r\nX-MS-Has-Attach: \r\nX-Forefront-Antispam-Report: "
    "X-Microsoft-Antispam-Message-Info: X-Microsoft-Antispam: BCL:0;\r\nX-Spam-Status: No, score= required= "
    "tests=\r\nX-Spam-Score: X-Spam-Flag: NO\r\nX-Virus-Scanned: X-Mailer: X-Originating-IP: "
    "X-Google-DKIM-Signature: X-Gm-Message-State: X-Google-Smtp-Source: X-Received: by with SMTP id "
    "Thread-Topic: Thread-Index: Accept-Language: en-US\r\nContent-Language: en-US\r\nIn-Reply-To: <\r\n"
    "References: <\r\nReply-To: \r\nCc: \r\nList-Id: <\r\nList-Unsubscribe-Post: List-Unsubscribe=One-Click\r\n"
    "List-Unsubscribe: <mailto:?subject=unsubscribe>, <https://\r\nPrecedence: bulk\r\nFeedback-ID: "
    "Content-Transfer-Encoding: quoted-printable\r\nContent-Transfer-Encoding: 7bit\r\n"
    "Content-Type: text/plain; charset=\"UTF-8\"\r\nContent-Type: text/html; charset=\"utf-8\"\r\n"
    "Content-Type: multipart/alternative; boundary=\"\r\nContent-Type: multipart/mixed; boundary=\"\r\n"
    "MIME-Version: 1.0\r\nMessage-ID: <@mail.gmail.com>\r\nDelivered-To: \r\nX-Original-To: \r\n"
    "Return-Path: <\r\nReceived-SPF: pass (: domain of designates as permitted sender) client-ip=; "
    "envelope-from=; helo=;\r\nARC-Authentication-Results: i=1; \r\nARC-Message-Signature: i=1; "
    "a=rsa-sha256; c=relaxed/relaxed; d=; s=arc-20240605;\r\n\th=\r\n\tbh=\r\nARC-Seal: i=1; "
    "a=rsa-sha256; t=; cv=none; d=; s=arc-;\r\n\tb=\r\nAuthentication-Results: ;\r\n\tdkim=pass "
    "(2048-bit key) header.d= header.i=@ header.s= header.b=;\r\n\tspf=pass (sender IP is ) "
    "smtp.mailfrom=;\r\n\tdmarc=pass (p=reject sp=reject dis=none) header.from=\r\n"
    "DKIM-Signature: v=1; a=rsa-sha256; c=relaxed/relaxed; d=; s=;\r\n\tt=; "
    "h=from:to:subject:date:message-id:mime-version:content-type:list-unsubscribe:reply-to;\r\n"
    "\tbh=;\r\n\tb=\r\nFrom: \r\nTo: \r\nSubject: Re: \r\nDate: Mon, Tue, Wed, Thu, Fri, Sat, Sun, "
    "Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec 2026 +0000 (UTC)\r\n"
    "Received: from localhost (localhost [127.0.0.1])\r\n\tby (Postfix) with ESMTP id \r\n"
    "Received: from mail. (mail. [])\r\n\tby mx. with ESMTPS id \r\n\tfor <>\r\n"
    "\t(version=TLS1_3 cipher=TLS_AES_256_GCM_SHA384 bits=256/256);\r\n";

constexpr int kLevel = 1; // fastest but one: a fetch packs every block it reads
constexpr qsizetype kLengthBytes = 4;
// A block shorter than this is kept as it is (the length's top bit says so):
// packing it costs microseconds, and saves a few dozen bytes.
constexpr qsizetype kPackedFrom = 1024;
constexpr quint32 kStoredFlag = 0x80000000u;

// The frame carries nothing the length prefix already says: no content
// size, dictionary id or checksum (these blocks never leave the process).
bool setFrameParameters(ZSTD_CCtx *context)
{
    return !ZSTD_isError(ZSTD_CCtx_setParameter(context, ZSTD_c_contentSizeFlag, 0))
        && !ZSTD_isError(ZSTD_CCtx_setParameter(context, ZSTD_c_checksumFlag, 0))
        && !ZSTD_isError(ZSTD_CCtx_setParameter(context, ZSTD_c_dictIDFlag, 0));
}

} // namespace

namespace PackedHeader {

// The dictionary is digested once per packer: loading it afresh for every
// block cost more than packing the block.
struct Packer::State {
    ZSTD_CCtx *context = ZSTD_createCCtx();
    ZSTD_CDict *dictionary = ZSTD_createCDict(kDictionary, sizeof kDictionary - 1, kLevel);
    bool ready = context && dictionary && !ZSTD_isError(ZSTD_CCtx_refCDict(context, dictionary))
        && setFrameParameters(context);
    QByteArray scratch;

    ~State()
    {
        ZSTD_freeCCtx(context);
        ZSTD_freeCDict(dictionary);
    }
};

Packer::Packer()
    : m_state(new State)
{
}

Packer::~Packer()
{
    delete m_state;
}

QByteArray Packer::pack(QByteArrayView block)
{
    if (block.isEmpty())
        return {};
    if (block.size() < kPackedFrom || !m_state->ready) {
        QByteArray stored(kLengthBytes + block.size(), Qt::Uninitialized);
        qToBigEndian(quint32(block.size()) | kStoredFlag, stored.data());
        memcpy(stored.data() + kLengthBytes, block.data(), size_t(block.size()));
        return stored;
    }
    // Made in a scratch buffer kept from block to block and copied at its
    // size: a row keeps only what its block needs.
    const qsizetype bound = kLengthBytes + qsizetype(ZSTD_compressBound(size_t(block.size())));
    if (m_state->scratch.size() < bound)
        m_state->scratch.resize(bound);
    char *out = m_state->scratch.data();
    qToBigEndian(quint32(block.size()), out);
    const size_t packed = ZSTD_compress2(m_state->context, out + kLengthBytes, size_t(bound - kLengthBytes),
                                         block.data(), size_t(block.size()));
    if (ZSTD_isError(packed))
        return {};
    return QByteArray(out, kLengthBytes + qsizetype(packed));
}

QByteArray pack(QByteArrayView block)
{
    return Packer().pack(block);
}

QByteArray unpack(QByteArrayView packed)
{
    if (packed.size() <= kLengthBytes)
        return {};
    const quint32 prefix = qFromBigEndian<quint32>(packed.data());
    if (prefix & kStoredFlag) {
        const qsizetype size = qsizetype(prefix & ~kStoredFlag);
        return size == packed.size() - kLengthBytes ? packed.sliced(kLengthBytes).toByteArray() : QByteArray();
    }
    const quint32 size = prefix;
    QByteArray block(qsizetype(size), Qt::Uninitialized);
    ZSTD_DCtx *context = ZSTD_createDCtx();
    if (!context)
        return {};
    const size_t made = ZSTD_decompress_usingDict(context, block.data(), size_t(size), packed.data() + kLengthBytes,
                                                  size_t(packed.size() - kLengthBytes), kDictionary,
                                                  sizeof kDictionary - 1);
    ZSTD_freeDCtx(context);
    return !ZSTD_isError(made) && made == size ? block : QByteArray();
}

} // namespace PackedHeader
