#include "platform/Sha256.h"

#include <windows.h>
#include <bcrypt.h>

#include <algorithm>

// The incremental calls exist from Windows 7 on (the one-shot BCryptHash only from Windows 10).
Sha256::Sha256() {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0) return;
    m_algorithm = algorithm;
    BCRYPT_HASH_HANDLE hash = nullptr;
    // From Windows 7 on the system keeps the hash object itself when given no buffer.
    if (BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0) != 0) return;
    m_hash = hash;
    m_ok = true;
}

Sha256::~Sha256() {
    if (m_hash) BCryptDestroyHash(static_cast<BCRYPT_HASH_HANDLE>(m_hash));
    if (m_algorithm) BCryptCloseAlgorithmProvider(static_cast<BCRYPT_ALG_HANDLE>(m_algorithm), 0);
}

void Sha256::Add(const void* data, size_t size) {
    auto* bytes = static_cast<const unsigned char*>(const_cast<void*>(data));
    while (m_ok && size > 0) {
        ULONG piece = ULONG(std::min<size_t>(size, 0x40000000));
        if (BCryptHashData(static_cast<BCRYPT_HASH_HANDLE>(m_hash), const_cast<unsigned char*>(bytes),
                           piece, 0) != 0)
            m_ok = false;
        bytes += piece;
        size -= piece;
    }
}

bool Sha256::Finish(Sha256Digest& digest) {
    if (!m_ok) return false;
    m_ok = false;  // a finished hash takes no more data
    return BCryptFinishHash(static_cast<BCRYPT_HASH_HANDLE>(m_hash), digest.data(), ULONG(digest.size()),
                            0) == 0;
}
