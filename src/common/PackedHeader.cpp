#include "PackedHeader.h"

#include <QtEndian>
#include <cstring>
#include <zlib.h>

namespace {

// What headers are made of: field names and the phrases of trace fields,
// signatures (RFC 6376, 8617), authentication results (RFC 8601), list and
// MIME fields. Deflate finds the most common ones nearest, so they come last.
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

constexpr int kLevel = 1; // fastest: a fetch packs every block it reads
// Raw deflate (the length prefix says the rest) with an 8 KB window, which
// reaches back over most of a header and the dictionary, and a state of
// under 100 KB: the heap keeps that from one block to the next, where the
// default state (over 256 KB) is handed back to the system and asked for
// again at every block, at several times the cost of the packing itself.
constexpr int kWindowBits = -13;
constexpr int kMemLevel = 7;
constexpr qsizetype kLengthBytes = 4;
// A block shorter than this is kept as it is (the length's top bit says so):
// setting up the compressor costs microseconds, and saves a few dozen bytes.
constexpr qsizetype kPackedFrom = 1024;
constexpr quint32 kStoredFlag = 0x80000000u;

} // namespace

namespace PackedHeader {

struct Packer::State {
    z_stream stream{};
    bool ready = false;
};

Packer::Packer()
    : m_state(new State)
{
    m_state->ready = deflateInit2(&m_state->stream, kLevel, Z_DEFLATED, kWindowBits, kMemLevel, Z_DEFAULT_STRATEGY)
        == Z_OK;
}

Packer::~Packer()
{
    if (m_state->ready)
        deflateEnd(&m_state->stream);
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
    z_stream &stream = m_state->stream;
    if (deflateReset(&stream) != Z_OK)
        return {};
    deflateSetDictionary(&stream, reinterpret_cast<const Bytef *>(kDictionary), sizeof kDictionary - 1);
    const uLong bound = deflateBound(&stream, uLong(block.size()));
    // Made in a scratch buffer and copied at its size: a row keeps only what
    // its block needs.
    QByteArray scratch(kLengthBytes + qsizetype(bound), Qt::Uninitialized);
    qToBigEndian(quint32(block.size()), scratch.data());
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(block.data()));
    stream.avail_in = uInt(block.size());
    stream.next_out = reinterpret_cast<Bytef *>(scratch.data() + kLengthBytes);
    stream.avail_out = uInt(bound);
    if (deflate(&stream, Z_FINISH) != Z_STREAM_END)
        return {};
    return QByteArray(scratch.constData(), kLengthBytes + qsizetype(stream.total_out));
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
    z_stream stream{};
    if (inflateInit2(&stream, kWindowBits) != Z_OK)
        return {};
    inflateSetDictionary(&stream, reinterpret_cast<const Bytef *>(kDictionary), sizeof kDictionary - 1);
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(packed.data() + kLengthBytes));
    stream.avail_in = uInt(packed.size() - kLengthBytes);
    stream.next_out = reinterpret_cast<Bytef *>(block.data());
    stream.avail_out = uInt(size);
    const int status = inflate(&stream, Z_FINISH);
    const bool whole = status == Z_STREAM_END && stream.total_out == size;
    inflateEnd(&stream);
    return whole ? block : QByteArray();
}

} // namespace PackedHeader
