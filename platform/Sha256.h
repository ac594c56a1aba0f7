// SHA-256 over data that arrives in pieces, from the system's cryptography (CNG).
#pragma once

#include <cstddef>

#include "platform/Sha256Digest.h"

class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    // False when the system gave no hash object or refused the data; the hash is then unusable.
    bool Ok() const { return m_ok; }
    void Add(const void* data, size_t size);
    // The digest of everything added; false when anything failed. Ends the hash.
    bool Finish(Sha256Digest& digest);

private:
    void* m_algorithm = nullptr;
    void* m_hash = nullptr;
    bool m_ok = false;
};
