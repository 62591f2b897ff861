// Player tokens: 256 bits from the kernel's random source, shown once as
// hex; the hub keeps only their SHA-256 and compares hashes in constant time.
#pragma once

#include <string>

namespace hub {

// False when the random source fails.
bool newToken(std::string& token);
std::string tokenHash(const std::string& token);
bool sameHash(const std::string& a, const std::string& b);

}  // namespace hub
