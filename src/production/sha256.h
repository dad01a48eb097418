// SHA-256 of a byte string, as lowercase hex: the production record names each image by it.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace vantor::production {

// The 64 hex digits of the SHA-256 digest of `bytes`.
std::string Sha256Hex(std::span<const std::uint8_t> bytes);

}  // namespace vantor::production
