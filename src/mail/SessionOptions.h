#pragma once

#include "SaslOAuth.h"
#include "SecureChannel.h"

#include <QtGlobal>
#include <functional>
#include <memory>

class MailConnection;
class MailProtocols;

// Makes the connection a session talks over; a test gives one in memory.
using ConnectionFactory = std::function<std::unique_ptr<MailConnection>()>;

// What every mail session of a run is given: its limits, the person's
// answers about certificates, the sign-in's tokens and the connection.
struct SessionOptions {
    // A wait gives up after this long without any data from the server.
    int inactivityLimitMs = 60000;
    // After Cancel, the replies still owed (and QUIT's) are awaited at most
    // this long in all and this many bytes; then the socket is closed.
    int cancelGraceMs = 3000;
    qint64 cancelGraceBytes = 16 * 1024 * 1024;
    // A listing (UIDL, LIST) larger than this ends the session: no mailbox
    // this program can show needs more, and memory must stay bounded.
    qint64 listingLimitBytes = 64 * 1024 * 1024;
    // Any other multi-line reply (TOP, CAPA) is read at most this far: its
    // first part is kept, the rest dropped while it lasts, and one that goes
    // on past this ends the session, so an endless reply cannot keep a run
    // reading for ever.
    qint64 replyLimitBytes = 64 * 1024 * 1024;
    // Whether a fetched row keeps its header block and its digest: the window
    // sorts rows again by the block when rules change, and confirms each
    // message by the digest before a later session removes it. A one-off
    // check removes in the session that read the rows, and needs neither.
    bool keepHeaderBlocks = true;
    // Asked when the server's certificate fails verification and is not the
    // profile's trusted one; without it such a certificate is refused.
    CertificatePrompt certificatePrompt = {};
    // Told the fingerprint of a certificate the prompt trusted, to keep it.
    CertificateTrusted certificateTrusted = {};
    // The bearer token of a profile that signs in with OAuth2.
    AccessTokenSource accessToken = {};
    // Milliseconds on a steady clock, by which the pipelining window measures
    // round trips; the session's own when empty. A test gives its own, so
    // that what the window does follows the round trips it says, not the
    // machine's speed.
    std::function<qint64()> clockMs = {};
    // The connection each session of the run talks over; a TCP socket
    // (SocketConnection) when empty.
    ConnectionFactory connection = {};
    // The protocols the run can speak; the built-in ones when null.
    const MailProtocols *protocols = nullptr;
};

// The connection `options` asks for: its factory's, or a new TCP socket.
std::unique_ptr<MailConnection> newConnection(const SessionOptions &options);
