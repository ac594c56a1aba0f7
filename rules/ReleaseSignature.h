// The publisher's signature over a manifest: a detached Ed25519 signature of the manifest's
// exact bytes, kept beside it as "<manifest>.sig" in standard base64. Shared by the launcher and
// the release tool, so both judge a release alike. No Windows calls in here.
#pragma once

#include <array>
#include <cstdint>
#include <string>

// A signature file is at most this long; anything longer is not a signature.
inline constexpr uint64_t SIGNATURE_MAX_BYTES = 1024;

using PublicKey = std::array<uint8_t, 32>;
using Signature = std::array<uint8_t, 64>;

// Standard base64 of exactly 32 bytes (44 characters), nothing around it.
bool DecodePublicKey(const std::string& text, PublicKey& key);
// The signature file's text: standard base64 of exactly 64 bytes (88 characters), optionally
// followed by one line break ("\n" or "\r\n").
bool DecodeSignatureText(const std::string& text, Signature& signature);
std::string EncodeBase64(const uint8_t* data, size_t size);

// Whether signatureText is a valid signature of manifestBytes by the key. Any malformed input is
// simply not valid.
bool IsManifestSignedBy(const std::string& manifestBytes, const std::string& signatureText,
                        const PublicKey& key);
