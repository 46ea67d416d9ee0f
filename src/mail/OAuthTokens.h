#pragma once

#include "SaslOAuth.h"

#include <functional>

struct ProfileSettingsRecord;

// The access tokens of a profile that signs in with OAuth2: the one held in
// memory while it is good for another minute, else a fresh one from the
// token endpoint with the refresh token. A refresh token the provider
// replaces goes to keepRefreshToken (to be stored). A refused refresh asks
// the user to sign in again; nothing is retried on its own.
AccessTokenSource profileAccessTokens(ProfileSettingsRecord &settings,
                                      std::function<void(const QString &refreshToken)> keepRefreshToken = {});
