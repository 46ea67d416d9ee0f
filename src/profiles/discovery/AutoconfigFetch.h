#pragma once

#include "AccountSettings.h"
#include "DiscoverySeam.h"

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUrl>

class QNetworkAccessManager;
class QNetworkReply;

// Fetches the domain's autoconfig file: first from autoconfig.<domain>, then
// from the domain's well-known place. HTTPS only, the certificate checked
// against the seam's authorities, a redirect followed only to HTTPS, each
// request bounded in size and time. `finished` gives the servers of the
// first file that names any (empty when none did).
class AutoconfigFetch : public QObject {
    Q_OBJECT
public:
    AutoconfigFetch(const DiscoverySeam &seam, QObject *parent = nullptr);

    static QList<QUrl> urlsFor(const EmailAddress &address);
    void start(const EmailAddress &address);
    void cancel();

Q_SIGNALS:
    void progress(const QString &text);
    void finished(const QList<AccountSettings> &found);

private:
    void fetchNext();
    void get(const QUrl &url);
    void onFinished();
    void abandon(const QString &why);
    // The reply is aborted at the bound; its data is read as it arrives.
    void refuseTooLarge();
    QString tooLargeText() const;
    QString sourceOf(const QUrl &servedBy) const;

    DiscoverySeam m_seam;
    QNetworkAccessManager *m_network;
    QTimer m_timer;
    EmailAddress m_address;
    QList<QUrl> m_pending;
    QUrl m_current; // the URL asked for (before a redirect)
    int m_redirects = 0;
    QPointer<QNetworkReply> m_reply;
    bool m_tooLarge = false;
    QByteArray m_body; // of the reply now read
};
