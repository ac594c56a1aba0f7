#include "transfer/FileSink.h"

#include <algorithm>

FileSink::FileSink(uint64_t maxBytes, bool withHash) : m_maxBytes(maxBytes) {
    if (withHash) m_hash.reset(new Sha256);
}

FileSink::~FileSink() { Close(); }

bool FileSink::Open(const std::wstring& path) {
    Close();
    m_size = 0;
    m_exceeded = m_writeFailed = false;
    m_file.Reset(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
    return m_file.IsValid();
}

bool FileSink::Write(const char* data, size_t size) {
    if (!m_file.IsValid() || m_writeFailed) return false;
    if (size > m_maxBytes - m_size) {
        m_exceeded = true;  // stop before a byte beyond the cap reaches the disk
        return false;
    }
    for (size_t done = 0; done < size;) {
        DWORD written = 0;
        const DWORD piece = DWORD(std::min<size_t>(size - done, 0x400000));
        if (!WriteFile(m_file.Get(), data + done, piece, &written, nullptr) || written == 0) {
            m_writeFailed = true;
            return false;
        }
        done += written;
    }
    if (m_hash) m_hash->Add(data, size);
    m_size += size;
    return true;
}

bool FileSink::Close() {
    if (!m_file.IsValid()) return !m_writeFailed;
    if (!CloseHandle(m_file.Release())) m_writeFailed = true;
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
