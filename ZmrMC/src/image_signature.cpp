#include "image_signature.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <windows.h>

#include <algorithm>
#include <memory>

namespace zmrmc {
namespace {

constexpr uint16_t kKeyResource = 2127;
const wchar_t kKeyResourceType[] = L"PUBLICKEY";

// The key blob's layout.
constexpr uint8_t kPublicKeyBlob = 0x06;
constexpr uint8_t kBlobVersion = 0x02;
constexpr uint32_t kRsaSignatureAlgorithm = 0x00002400;  // CALG_RSA_SIGN
constexpr uint32_t kRsaPublicMagic = 0x31415352;         // "RSA1"
constexpr size_t kBlobHeader = 20;                       // blob header (8) and RSA public key header (12)

uint32_t U32(const std::vector<uint8_t>& b, size_t at) {
    return static_cast<uint32_t>(b[at]) | static_cast<uint32_t>(b[at + 1]) << 8 |
           static_cast<uint32_t>(b[at + 2]) << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

template <class T, void (*Free)(T*)>
struct Deleter {
    void operator()(T* p) const { Free(p); }
};
using Bignum = std::unique_ptr<BIGNUM, Deleter<BIGNUM, BN_free>>;
using Key = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using KeyContext = std::unique_ptr<EVP_PKEY_CTX, Deleter<EVP_PKEY_CTX, EVP_PKEY_CTX_free>>;
using DigestContext = std::unique_ptr<EVP_MD_CTX, Deleter<EVP_MD_CTX, EVP_MD_CTX_free>>;
using ParamBuilder = std::unique_ptr<OSSL_PARAM_BLD, Deleter<OSSL_PARAM_BLD, OSSL_PARAM_BLD_free>>;
using Params = std::unique_ptr<OSSL_PARAM, Deleter<OSSL_PARAM, OSSL_PARAM_free>>;

// The RSA public key of a key blob; null when the blob is not an RSA signature key's public blob.
Key ImportPublicKey(const std::vector<uint8_t>& blob) {
    if (blob.size() < kBlobHeader || blob[0] != kPublicKeyBlob || blob[1] != kBlobVersion ||
        U32(blob, 4) != kRsaSignatureAlgorithm || U32(blob, 8) != kRsaPublicMagic)
        return nullptr;
    uint32_t bits = U32(blob, 12), exponent = U32(blob, 16);
    if (bits == 0 || bits % 8 != 0 || blob.size() - kBlobHeader != bits / 8 || exponent == 0) return nullptr;
    std::vector<uint8_t> modulus(blob.begin() + kBlobHeader, blob.end());  // least significant byte first
    Bignum n(BN_lebin2bn(modulus.data(), static_cast<int>(modulus.size()), nullptr));
    Bignum e(BN_new());
    ParamBuilder builder(OSSL_PARAM_BLD_new());
    if (!n || !e || !builder || BN_set_word(e.get(), exponent) != 1 ||
        OSSL_PARAM_BLD_push_BN(builder.get(), OSSL_PKEY_PARAM_RSA_N, n.get()) != 1 ||
        OSSL_PARAM_BLD_push_BN(builder.get(), OSSL_PKEY_PARAM_RSA_E, e.get()) != 1)
        return nullptr;
    Params params(OSSL_PARAM_BLD_to_param(builder.get()));
    KeyContext context(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
    EVP_PKEY* key = nullptr;
    if (!params || !context || EVP_PKEY_fromdata_init(context.get()) != 1 ||
        EVP_PKEY_fromdata(context.get(), &key, EVP_PKEY_PUBLIC_KEY, params.get()) != 1)
        return nullptr;
    return Key(key);
}

}  // namespace

SignatureCheck CheckImageSignature(const std::vector<uint8_t>& image, const std::vector<uint8_t>& signature,
                                   const std::vector<uint8_t>& keyBlob) {
    Key key = ImportPublicKey(keyBlob);
    if (!key) return SignatureCheck::kBadKey;
    if (signature.size() != static_cast<size_t>(EVP_PKEY_get_size(key.get()))) return SignatureCheck::kMismatch;
    std::vector<uint8_t> bigEndian(signature.rbegin(), signature.rend());
    DigestContext digest(EVP_MD_CTX_new());
    if (!digest || EVP_DigestVerifyInit(digest.get(), nullptr, EVP_md5(), nullptr, key.get()) != 1)
        return SignatureCheck::kBadKey;
    int verified = EVP_DigestVerify(digest.get(), bigEndian.data(), bigEndian.size(), image.data(), image.size());
    return verified == 1 ? SignatureCheck::kVerified : SignatureCheck::kMismatch;
}

std::optional<std::vector<uint8_t>> LibraryPublicKey() {
    HMODULE module = QvCurrentModule();
    HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(kKeyResource), kKeyResourceType);
    HGLOBAL loaded = resource != nullptr ? LoadResource(module, resource) : nullptr;
    const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (bytes == nullptr) return std::nullopt;
    const auto* begin = static_cast<const uint8_t*>(bytes);
    return std::vector<uint8_t>(begin, begin + SizeofResource(module, resource));
}

}  // namespace zmrmc
