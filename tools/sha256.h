// SHA-256 of a byte string, as 64 lower-case hexadecimal digits (FIPS 180-4).
#ifndef TOOLS_SHA256_H_
#define TOOLS_SHA256_H_

#include <string>

std::string Sha256Hex(const std::string& data);

#endif  // TOOLS_SHA256_H_
