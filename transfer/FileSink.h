// A download sink that writes a file and checks the body on its way in: a size cap that stops an
// endless body, and the SHA-256 computed as the bytes pass, so nothing is read twice. Each piece
// goes straight to the system (no stream buffer), so a full disk fails the write that meets it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/ScopedWin.h"
#include "platform/BackgroundSha256.h"
#include "transfer/ArrivalCheck.h"
#include "transfer/Download.h"

class FileSink : public DownloadSink {
public:
    // maxBytes: a body longer than this ends the transfer. withHash: compute the SHA-256.
    FileSink(uint64_t maxBytes, bool withHash);
    ~FileSink() override;
    FileSink(const FileSink&) = delete;
    FileSink& operator=(const FileSink&) = delete;

    // Every byte of the file, from its first, also goes to check (not owned; set before the file
    // is opened), once it is in the file. A check fed before the file starts again is abandoned.
    void CheckAlso(ArrivalCheck* check) { m_check = check; }
    // Creates (or truncates) the file. False when it cannot be opened.
    bool Open(const std::wstring& path);
    // Opens a partial file to continue it after its first offset bytes (anything beyond them is
    // cut off); those bytes count towards the cap and go through the hash first.
    bool OpenToContinue(const std::wstring& path, uint64_t offset);
    // Empties the open file to start it again from its first byte.
    bool Restart();
    bool Write(const char* data, size_t size) override;
    // Closes the file; false when a write or the close itself failed.
    bool Close();

    uint64_t Size() const { return m_size; }
    bool Exceeded() const { return m_exceeded; }
    // Whether the transfer was ended by the check (a span that did not match).
    bool CheckEnded() const { return m_checkEnded; }
    // The digest of everything written; false without a hash or when hashing failed.
    bool Digest(Sha256Digest& digest);

private:
    void ResetCounts();

    scoped::Handle m_file;
    uint64_t m_maxBytes;
    uint64_t m_size = 0;
    bool m_exceeded = false;
    bool m_writeFailed = false;
    bool m_checkEnded = false;
    bool m_withHash;
    std::unique_ptr<BackgroundSha256> m_hash;
    ArrivalCheck* m_check = nullptr;
};

// Whether a downloaded package is the one the manifest names: its size and hash where given.
bool PackageMatches(bool hasSize, uint64_t expectedSize, uint64_t actualSize, bool hasHash,
                    const Sha256Digest& expectedHash, bool gotHash, const Sha256Digest& actualHash);
