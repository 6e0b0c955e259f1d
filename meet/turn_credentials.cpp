#include "meet/turn_credentials.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

namespace hopshot::meet {

TurnCredentials turnCredentials(std::string_view secret, int64_t expiry, std::string_view code) {
    TurnCredentials c;
    c.username = std::to_string(expiry) + ":" + std::string(code);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    HMAC(EVP_sha1(), secret.data(), int(secret.size()),
         reinterpret_cast<const unsigned char*>(c.username.data()), c.username.size(), digest, &length);
    unsigned char text[4 * EVP_MAX_MD_SIZE / 3 + 4];
    const int written = EVP_EncodeBlock(text, digest, int(length));
    c.password.assign(reinterpret_cast<const char*>(text), size_t(written));
    return c;
}

}  // namespace hopshot::meet
