// The spans of a package fetched by byte ranges, kept in a sparse file at their own offsets, so
// that the archive reader and the decoders read it as they read a whole package. Every span is
// checked against its SHA-256 from the index as it arrives, before anything decodes it; a small
// record beside the file lists the spans checked so far, and the next run continues with the
// others. Only single-range requests are made: servers and CDNs answer multi-range ones wrongly.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/ScopedWin.h"
#include "rules/PackageIndex.h"
#include "transfer/ArrivalGate.h"
#include "transfer/Download.h"
#include "transfer/PackageSources.h"

enum class PartsResult {
    Done,
    Failed,        // the transfer failed (network, server error): worth continuing next run
    RangeRefused,  // a 200, or a Content-Range other than the one asked for
    WrongBytes,    // a span's bytes do not match its hash
    WriteFailed,   // the local file could not take them
    Stopped,       // the player left
};

// Test seam: how many requests were made and how many bytes they brought (all parts together).
struct PartsCounters {
    unsigned requests = 0;
    uint64_t bytes = 0;
};

// Decoders may read the file while Fetch runs on another thread: WaitFor lets each read go once
// the spans that hold its bytes are here and checked.
class PackageParts : public ArrivalGate {
public:
    // path: the sparse file; its record is path + ".list". identity: the package's size and
    // SHA-256 in hex, so a record of another package is never trusted.
    PackageParts(const std::wstring& path, uint64_t packageSize, const std::string& identity);

    // Opens the file (created when missing) and reads the record, keeping each span listed whose
    // bytes still hash to their digest. False when the file cannot be opened.
    bool Open();
    bool Has(const ByteSpan& span) const;
    // The wanted spans not yet here, in their order.
    std::vector<ByteSpan> Missing(const std::vector<ByteSpan>& wanted) const;

    // Fetches the wanted spans not yet here, in merged single-range requests, from the current
    // source; one that fails moves the rest to the next. The result is the last source's.
    // progress follows the bytes of the wanted spans, those here counted as done.
    PartsResult Fetch(PackageSources& sources, const std::vector<ByteSpan>& wanted, AtomicInt* progress,
                      const StopFlag* stop);

    // Bytes from offset to end, all inside spans here (waits while Fetch may still bring them).
    bool WaitFor(uint64_t offset, uint64_t end) override;
    // No more spans come until the next Open: readers waiting for others are let go.
    void EndArrivals();

    // The file for reading (positional reads only).
    HANDLE Handle() const { return m_file.Get(); }
    void Close() { m_file.Reset(); }
    // Deletes the file and its record.
    void Discard();
    const std::wstring& Path() const { return m_path; }
    const std::wstring& RecordPath() const { return m_recordPath; }

private:
    PartsResult FetchFrom(const char* url, const std::vector<ByteSpan>& wanted, AtomicInt* progress,
                          const StopFlag* stop);
    bool SaveRecord() const;
    bool Covered(uint64_t offset, uint64_t end) const;
    void Arrived(const ByteSpan& span);

    std::wstring m_path, m_recordPath;
    uint64_t m_packageSize;
    std::string m_identity;
    scoped::Handle m_file;
    std::vector<ByteSpan> m_here;  // checked spans, in the order they came
    mutable std::mutex m_mutex;    // guards m_here and m_arriving, for readers on other threads
    std::condition_variable m_changed;
    bool m_arriving = false;
};

PartsCounters PackagePartsCounters();
void ResetPackagePartsCounters();

// The record's text, and its reading (false: not a record of this identity).
std::string FormatPartsRecord(const std::string& identity, const std::vector<ByteSpan>& spans);
bool ParsePartsRecord(const std::string& text, const std::string& identity, std::vector<ByteSpan>& spans);
