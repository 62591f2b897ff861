#include "Token.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <cerrno>

#include <sys/random.h>

namespace hub {

bool newToken(std::string& token)
{
    unsigned char bytes[32];
    size_t got = 0;
    while (got < sizeof bytes) {
        const ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        got += static_cast<size_t>(n);
    }
    static const char digits[] = "0123456789abcdef";
    token.clear();
    for (unsigned char b : bytes) {
        token.push_back(digits[b >> 4]);
        token.push_back(digits[b & 15]);
    }
    return true;
}

std::string tokenHash(const std::string& token)
{
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_Digest(token.data(), token.size(), out, &size, EVP_sha256(), nullptr) != 1) {
        return {};
    }
    return std::string(reinterpret_cast<const char*>(out), size);
}

bool sameHash(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && !a.empty() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace hub
