// The ROM image's signature check: an RSA signature over the image's MD5 hash (PKCS #1 v1.5), as the
// platform's cryptographic provider makes it (the signature's bytes least significant first), checked
// against a public key in the platform's key-blob format (PUBLICKEYBLOB of an RSA signature key: an 8-byte
// blob header, "RSA1", the bit length, the public exponent, then the modulus least significant byte first).
// The library's own key is its resource PUBLICKEY 2127 (84 bytes, a 512-bit key).
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace zmrmc {

enum class SignatureCheck {
    kVerified,
    kMismatch,  // the signature does not belong to this image and key
    kBadKey,    // the key blob is not an RSA signature key's public blob
};

// Checks `signature` over `image` with the public key in `keyBlob`.
SignatureCheck CheckImageSignature(const std::vector<uint8_t>& image, const std::vector<uint8_t>& signature,
                                   const std::vector<uint8_t>& keyBlob);

// The library's public key blob (resource PUBLICKEY 2127 of the module this code is in); none when the module
// carries no such resource.
std::optional<std::vector<uint8_t>> LibraryPublicKey();

}  // namespace zmrmc
