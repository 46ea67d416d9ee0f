#include "OAuthTokens.h"

#include "ProfileRecord.h"
#include "OAuthClient.h"

#include <QDateTime>

namespace {
// A token this close to its end could expire on the way to the server.
constexpr qint64 kMarginSeconds = 60;
} // namespace

AccessTokenSource profileAccessTokens(ProfileSettingsRecord &settings,
                                      std::function<void(const QString &refreshToken)> keepRefreshToken)
{
    return [&settings, keep = std::move(keepRefreshToken)](bool renew) -> AccessToken {
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        if (!renew && !settings.OAuthAccessToken.isEmpty()
            && (settings.OAuthAccessExpiry == 0 || settings.OAuthAccessExpiry > now + kMarginSeconds))
            return {AccessToken::State::Ready, settings.OAuthAccessToken, {}};
        if (settings.OAuthRefreshToken.isEmpty()) {
            // A sign-in the keyring did not give comes with its own advice
            // (unlock the keyring, or sign in again when the entry is gone).
            if (!settings.SecretProblem.isEmpty())
                return {AccessToken::State::SignInNeeded, {}, settings.SecretProblem, settings.SecretAdvice};
            const QString text = QStringLiteral("This profile has not signed in with %1 yet.")
                                     .arg(settings.OAuthProvider.isEmpty() ? QStringLiteral("OAuth2")
                                                                           : settings.OAuthProvider);
            return {AccessToken::State::SignInNeeded, {}, text, MailReason::SignInAgain};
        }
        const TokenResponse response = OAuthClient::refresh(endpointsOf(settings), settings.OAuthRefreshToken);
        switch (response.status) {
        case TokenResponse::Status::Ok:
            settings.OAuthAccessToken = response.accessToken;
            settings.OAuthAccessExpiry = response.expiresAt;
            if (!response.refreshToken.isEmpty() && response.refreshToken != settings.OAuthRefreshToken) {
                settings.OAuthRefreshToken = response.refreshToken;
                if (keep)
                    keep(response.refreshToken);
            }
            return {AccessToken::State::Ready, settings.OAuthAccessToken, {}};
        case TokenResponse::Status::Refused:
            settings.OAuthAccessToken.clear();
            return {AccessToken::State::SignInNeeded, {}, response.error, MailReason::SignInAgain};
        case TokenResponse::Status::Failed:
            break;
        }
        return {AccessToken::State::Failed,
                {},
                QStringLiteral("The sign-in could not be renewed.\r\n") + response.error};
    };
}
