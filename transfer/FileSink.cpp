#include "transfer/FileSink.h"

#include "platform/FileSystem.h"

#include <algorithm>
#include <vector>

FileSink::FileSink(uint64_t maxBytes, bool withHash) : m_maxBytes(maxBytes), m_withHash(withHash) {
    if (withHash) m_hash.reset(new BackgroundSha256);
}

FileSink::~FileSink() { Close(); }

void FileSink::ResetCounts() {
    m_size = 0;
    m_exceeded = m_writeFailed = m_checkEnded = false;
    if (m_withHash) m_hash.reset(new BackgroundSha256);
    // Bytes already checked may be in use: a file that starts again cannot go on feeding them.
    if (m_check && m_check->Fed()) m_check->Abandon();
}

bool FileSink::Open(const std::wstring& path) {
    Close();
    ResetCounts();
    m_file.Reset(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
    return m_file.IsValid();
}

bool FileSink::OpenToContinue(const std::wstring& path, uint64_t offset) {
    Close();
    ResetCounts();
    m_file.Reset(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!m_file.IsValid() || offset > m_maxBytes) return false;
    // The bytes already there go through the hash once, as if they had just arrived.
    std::vector<char> piece(1 << 20);
    for (uint64_t left = offset; left > 0;) {
        DWORD got = 0;
        const DWORD want = DWORD(std::min<uint64_t>(left, piece.size()));
        if (!ReadFile(m_file.Get(), piece.data(), want, &got, nullptr) || got == 0) return false;
        if (m_hash) m_hash->Add(piece.data(), got);
        if (m_check && !m_check->Add(piece.data(), got)) return false;
        left -= got;
    }
    m_size = offset;
    LARGE_INTEGER at;
    at.QuadPart = LONGLONG(offset);
    return SetFilePointerEx(m_file.Get(), at, nullptr, FILE_BEGIN) && SetEndOfFile(m_file.Get());
}

bool FileSink::Restart() {
    if (!m_file.IsValid()) return false;
    LARGE_INTEGER zero;
    zero.QuadPart = 0;
    if (!SetFilePointerEx(m_file.Get(), zero, nullptr, FILE_BEGIN) || !SetEndOfFile(m_file.Get())) return false;
    ResetCounts();
    return true;
}

bool FileSink::Write(const char* data, size_t size) {
    if (!m_file.IsValid() || m_writeFailed) return false;
    if (size > m_maxBytes - m_size) {
        m_exceeded = true;  // stop before a byte beyond the cap reaches the disk
        return false;
    }
    if (!WriteAll(m_file.Get(), data, size)) {
        m_writeFailed = true;
        return false;
    }
    if (m_hash && !m_hash->Add(data, size)) {
        m_writeFailed = true;  // a hash that failed can check nothing
        return false;
    }
    if (m_check && !m_check->Add(data, size)) {
        m_checkEnded = true;
        return false;
    }
    m_size += size;
    return true;
}

bool FileSink::Close() {
    if (!m_file.IsValid()) return !m_writeFailed;
    if (!CloseHandle(m_file.Release())) m_writeFailed = true;
    return !m_writeFailed;
}

bool FileSink::Digest(Sha256Digest& digest) { return m_hash && m_hash->Finish(digest); }

bool PackageMatches(bool hasSize, uint64_t expectedSize, uint64_t actualSize, bool hasHash,
                    const Sha256Digest& expectedHash, bool gotHash, const Sha256Digest& actualHash) {
    if (hasSize && expectedSize != actualSize) return false;
    if (hasHash && (!gotHash || expectedHash != actualHash)) return false;
    return true;
}
