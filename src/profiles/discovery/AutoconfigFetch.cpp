#include "AutoconfigFetch.h"

#include "AutoconfigParser.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslConfiguration>
#include <QUrlQuery>

namespace {
constexpr int kMaxRedirects = 3;
} // namespace

AutoconfigFetch::AutoconfigFetch(const DiscoverySeam &seam, QObject *parent)
    : QObject(parent)
    , m_seam(seam)
    , m_network(new QNetworkAccessManager(this))
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] { abandon(QStringLiteral("took too long")); });
}

QList<QUrl> AutoconfigFetch::urlsFor(const EmailAddress &address)
{
    QUrl first(QStringLiteral("https://autoconfig.%1/mail/config-v1.1.xml").arg(address.domain));
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("emailaddress"), QString::fromLatin1(QUrl::toPercentEncoding(address.address)));
    first.setQuery(query);
    const QUrl second(QStringLiteral("https://%1/.well-known/autoconfig/mail/config-v1.1.xml").arg(address.domain));
    return {first, second};
}

void AutoconfigFetch::start(const EmailAddress &address)
{
    m_address = address;
    m_pending = urlsFor(address);
    fetchNext();
}

void AutoconfigFetch::cancel()
{
    m_pending.clear();
    m_timer.stop();
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
        m_reply->deleteLater();
    }
}

void AutoconfigFetch::fetchNext()
{
    if (m_pending.isEmpty()) {
        Q_EMIT finished({});
        return;
    }
    m_current = m_pending.takeFirst();
    m_redirects = 0;
    Q_EMIT progress(QStringLiteral("Asking %1").arg(m_current.host()));
    get(m_current);
}

void AutoconfigFetch::get(const QUrl &url)
{
    const QString target = m_seam.connectTarget(url.host());
    if (url.scheme() != QLatin1String("https") || target.isEmpty()) {
        abandon(QStringLiteral("not reachable over HTTPS"));
        return;
    }
    QUrl connectUrl = url;
    connectUrl.setHost(target);
    connectUrl.setPort(m_seam.portFor(quint16(url.port(443))));
    QNetworkRequest request(connectUrl);
    request.setRawHeader("Host", url.host().toUtf8());
    request.setPeerVerifyName(url.host());
    // Redirects are followed here, through the same checks.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setPeerVerifyMode(QSslSocket::VerifyPeer);
    if (!m_seam.authorities.isEmpty())
        tls.setCaCertificates(m_seam.authorities);
    request.setSslConfiguration(tls);
    request.setTransferTimeout(m_seam.requestMs);
    m_tooLarge = false;
    m_body.clear();
    m_reply = m_network->get(request);
    m_reply->setProperty("asked", url);
    // Read as it arrives, so that the bound ends an endless body at once
    // rather than a stalled buffer waiting for the timer.
    connect(m_reply, &QNetworkReply::metaDataChanged, this, [this] {
        if (m_reply && m_reply->header(QNetworkRequest::ContentLengthHeader).toLongLong() > m_seam.maxConfigBytes)
            refuseTooLarge();
    });
    connect(m_reply, &QNetworkReply::readyRead, this, [this] {
        if (!m_reply)
            return;
        m_body += m_reply->read(m_seam.maxConfigBytes + 1 - m_body.size());
        if (m_body.size() > m_seam.maxConfigBytes)
            refuseTooLarge();
    });
    connect(m_reply, &QNetworkReply::finished, this, &AutoconfigFetch::onFinished);
    m_timer.start(m_seam.requestMs);
}

void AutoconfigFetch::onFinished()
{
    QNetworkReply *reply = m_reply;
    m_timer.stop();
    if (!reply)
        return;
    reply->deleteLater();
    m_reply = nullptr;
    const QUrl asked = reply->property("asked").toUrl();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status >= 300 && status < 400 && reply->error() == QNetworkReply::NoError) {
        const QUrl next = asked.resolved(reply->header(QNetworkRequest::LocationHeader).toUrl());
        if (++m_redirects > kMaxRedirects || next.scheme() != QLatin1String("https")) {
            abandon(QStringLiteral("redirected away from HTTPS"));
            return;
        }
        get(next);
        return;
    }
    if (reply->error() != QNetworkReply::NoError || status != 200) {
        abandon(reply->errorString());
        return;
    }
    m_body += reply->read(m_seam.maxConfigBytes + 1 - m_body.size());
    if (m_body.size() > m_seam.maxConfigBytes) {
        abandon(tooLargeText());
        return;
    }
    const QList<AccountSettings> found = parseAutoconfig(m_body, m_address, sourceOf(asked));
    if (found.isEmpty()) {
        abandon(QStringLiteral("no usable server in the file"));
        return;
    }
    m_pending.clear();
    Q_EMIT finished(found);
}

// Where the file really came from: after a redirect another server may
// have written it, and one outside the address's domain is pointed out.
QString AutoconfigFetch::sourceOf(const QUrl &servedBy) const
{
    QString source = QStringLiteral("autoconfig from ") + servedBy.toString(QUrl::RemoveQuery);
    if (!isInDomain(servedBy.host(), m_address.domain))
        source += QStringLiteral(", another domain than ") + m_address.domain;
    return source;
}

void AutoconfigFetch::refuseTooLarge()
{
    if (m_tooLarge)
        return;
    m_tooLarge = true;
    abandon(tooLargeText());
}

QString AutoconfigFetch::tooLargeText() const
{
    return QStringLiteral("refused, the file is larger than %1 KiB").arg(m_seam.maxConfigBytes / 1024);
}

void AutoconfigFetch::abandon(const QString &why)
{
    m_timer.stop();
    if (m_reply) {
        QNetworkReply *reply = m_reply;
        m_reply = nullptr;
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
    }
    Q_EMIT progress(QStringLiteral("%1: %2").arg(m_current.host(), why));
    fetchNext();
}
