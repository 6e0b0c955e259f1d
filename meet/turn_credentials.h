// Short-lived TURN credentials the way coturn checks them with `use-auth-secret` (the TURN REST
// way): the relay and the meeting service share one secret, and nothing else.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace hopshot::meet {

struct TurnCredentials {
    std::string username;   // "EXPIRY:CODE", EXPIRY a unix time in seconds
    std::string password;   // base64(HMAC-SHA1(secret, username))
};

TurnCredentials turnCredentials(std::string_view secret, int64_t expiry, std::string_view code);

}  // namespace hopshot::meet
