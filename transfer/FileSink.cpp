#include "transfer/FileSink.h"

FileSink::FileSink(uint64_t maxBytes, bool withHash) : m_maxBytes(maxBytes) {
    if (withHash) m_hash.reset(new Sha256);
}

FileSink::~FileSink() { Close(); }

bool FileSink::Open(const std::wstring& path) {
    Close();
    m_size = 0;
    m_exceeded = m_writeFailed = false;
    m_file = _wfopen(path.c_str(), L"wb");
    return m_file != nullptr;
}

bool FileSink::Write(const char* data, size_t size) {
    if (!m_file || m_writeFailed) return false;
    if (size > m_maxBytes - m_size) {
        m_exceeded = true;  // stop before a byte beyond the cap reaches the disk
        return false;
    }
    if (size && fwrite(data, 1, size, m_file) != size) {
        m_writeFailed = true;
        return false;
    }
    if (m_hash) m_hash->Add(data, size);
    m_size += size;
    return true;
}

bool FileSink::Close() {
    if (!m_file) return !m_writeFailed;
    const bool closed = fclose(m_file) == 0;
    m_file = nullptr;
    if (!closed) m_writeFailed = true;
    return !m_writeFailed;
}

bool FileSink::Digest(Sha256Digest& digest) {
    if (!m_hash) return false;
    if (!m_hashFinished) {
        m_hashFinished = true;
        m_hashOk = m_hash->Finish(m_digest);
    }
    digest = m_digest;
    return m_hashOk;
}

bool PackageMatches(bool hasSize, uint64_t expectedSize, uint64_t actualSize, bool hasHash,
                    const Sha256Digest& expectedHash, bool gotHash, const Sha256Digest& actualHash) {
    if (hasSize && expectedSize != actualSize) return false;
    if (hasHash && (!gotHash || expectedHash != actualHash)) return false;
    return true;
}
