#include "rules/ReleaseSignature.h"

#include <sodium.h>

namespace {
// Decodes standard base64 that must fill exactly out.size() bytes and use every character.
template <size_t N>
bool DecodeExactly(const std::string& text, std::array<uint8_t, N>& out) {
    if (text.size() != sodium_base64_ENCODED_LEN(N, sodium_base64_VARIANT_ORIGINAL) - 1) return false;
    size_t length = 0;
    const char* end = nullptr;
    if (sodium_base642bin(out.data(), out.size(), text.data(), text.size(), nullptr, &length, &end,
                          sodium_base64_VARIANT_ORIGINAL) != 0)
        return false;
    return length == N && end == text.data() + text.size();
}
}  // namespace

bool DecodePublicKey(const std::string& text, PublicKey& key) {
    if (sodium_init() < 0) return false;
    return DecodeExactly(text, key);
}

bool DecodeSignatureText(const std::string& text, Signature& signature) {
    if (sodium_init() < 0) return false;
    std::string body = text;
    if (body.size() >= 2 && body.compare(body.size() - 2, 2, "\r\n") == 0)
        body.resize(body.size() - 2);
    else if (!body.empty() && body.back() == '\n')
        body.pop_back();
    return DecodeExactly(body, signature);
}

std::string EncodeBase64(const uint8_t* data, size_t size) {
    if (sodium_init() < 0) return std::string();
    std::string text(sodium_base64_ENCODED_LEN(size, sodium_base64_VARIANT_ORIGINAL), '\0');
    sodium_bin2base64(&text[0], text.size(), data, size, sodium_base64_VARIANT_ORIGINAL);
    text.resize(text.size() - 1);  // the terminator
    return text;
}

bool IsManifestSignedBy(const std::string& manifestBytes, const std::string& signatureText,
                        const PublicKey& key) {
    Signature signature;
    if (!DecodeSignatureText(signatureText, signature)) return false;
    return crypto_sign_verify_detached(signature.data(),
                                       reinterpret_cast<const unsigned char*>(manifestBytes.data()),
                                       manifestBytes.size(), key.data()) == 0;
}
