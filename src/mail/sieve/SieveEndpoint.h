#pragma once

#include "SecureChannel.h"

#include <QString>
#include <functional>
#include <optional>

struct ProfileSettingsRecord;

// Where a profile's ManageSieve server is and how its connection is secured.
struct SieveEndpoint {
    QString host;
    quint16 port = 4190;
    ConnectionSecurity security = ConnectionSecurity::StartTls;
    QString source; // how it was found, for the user: "the profile", "DNS SRV", "the default port"
    QString error; // set when the profile's values cannot be used
};

// A `_sieve._tcp.<domain>` SRV answer: the target and port, or none.
struct SieveSrv {
    QString target;
    quint16 port = 0;
};
using SieveSrvLookup = std::function<std::optional<SieveSrv>(const QString &domain)>;

// The profile's host on port 4190, unless the profile names a port
// (SievePort) or the DNS says otherwise for the host's domain (RFC 5804).
// The connection is secured with STARTTLS unless the profile's mail
// connection is plain (then so is this one) or SieveSecurity says "SSL/TLS"
// (TLS from the first byte) or "None".
SieveEndpoint sieveEndpoint(const ProfileSettingsRecord &settings, const SieveSrvLookup &srv = {});

// The system resolver's answer, waited for at most `timeoutMs`.
std::optional<SieveSrv> lookUpSieveSrv(const QString &domain, int timeoutMs = 5000);
