// Unpacks a 7z archive into a folder, with progress in basis points.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "rules/EntryName.h"
#include "platform/Progress.h"
#include "platform/SharedText.h"
#include "platform/StopFlag.h"
#include "transfer/ArrivalGate.h"

// The extractor's own result codes (the decoder's codes share these numbers).
inline constexpr int EXTRACT_CANNOT_OPEN = 1;
inline constexpr int EXTRACT_NO_MEMORY = 2;
inline constexpr int EXTRACT_OUTPUT_FAILED = 11;
inline constexpr int EXTRACT_UNSAFE_NAME = 16;
// The package's own preflight (InspectPackage) refuses these too.
inline constexpr int EXTRACT_NO_GAME = 18;        // no game executable at the package's top
inline constexpr int EXTRACT_SIZE_OVERFLOW = 19;  // the unpacked sizes add up past 2^64

// Extracts every entry of archive below destination (which ends with a separator), creating the
// folders the names imply. progress (may be null) goes from 0 to 10000. Returns 0 on success,
// 1 when the archive cannot be opened, 2 when memory runs out, 11 when an output file cannot be
// created, written or flushed to the disk, 16 when an entry name would lead outside the
// destination or is one Windows cannot hold (nothing is then written), or the decoder's own
// result code. Every file written is on the disk (flushed and closed) when it returns 0.
// stop (may be null): when set, the extraction ends at its next piece with EXTRACT_STOPPED, the
// file under way deleted.
inline constexpr int EXTRACT_STOPPED = 20;
// progress follows the bytes written (the entries, for an archive of empty files only).
//
// scope (may be null): only the files it names are written (normalised names, as
// NormalizeEntryName gives them), and no folders; a solid block that holds none of them is never
// read, so the archive may be a sparse copy holding only its headers and the blocks needed.
// Progress then counts bytesBefore + the bytes written, of bytesTotal.
// With parts > 1 instead (and no names), one of several extractions of the whole archive at
// once: every entry of the solid blocks numbered part, part + parts, part + 2 * parts..., and
// for part 0 the folders and empty files too, written as without a scope.
// Several scoped extractions of one archive may run at once (other blocks each): with
// sharedWritten they count the bytes written together, and each shows the sum.
struct ExtractScope {
    std::vector<std::wstring> names;
    unsigned part = 0, parts = 1;
    uint64_t bytesBefore = 0;
    uint64_t bytesTotal = 0;
    std::atomic<uint64_t>* sharedWritten = nullptr;

    bool ByNames() const { return parts <= 1; }
};
//
// gate (may be null): the archive is still being written (a sparse copy filling up); every
// packed byte is read once gate lets it.
int Extract7z(const std::wstring& archive, const std::wstring& destination, AtomicInt* progress,
              const StopFlag* stop = nullptr, const ExtractScope* scope = nullptr, ArrivalGate* gate = nullptr);

// Extract7z for a package still downloading into package: its database is read from headers (a
// sparse copy holding the checked start and end headers), and every packed byte from package
// once gate says it has arrived and been checked. Returns as Extract7z, or the decoder's read
// error when gate says the bytes will not come.
int Extract7zArriving(const std::wstring& headers, const std::wstring& package, ArrivalGate& gate,
                      const std::wstring& destination, AtomicInt* progress, const StopFlag* stop = nullptr,
                      const ExtractScope* scope = nullptr);

// What a package holds, read without unpacking anything.
struct PackageSummary {
    uint32_t entries = 0;
    uint64_t unpackedBytes = 0;  // the sum of the files' sizes
};
// Opens the archive and checks every entry name as Extract7z would. Returns 0 and fills summary,
// or the code Extract7z would return for the same archive before writing anything (1 cannot
// open, 16 a name refused, 17 not a 7z archive, or the decoder's code for its database), or 18
// when the package holds no game executable at its top, 19 when its sizes overflow.
int InspectPackage(const std::wstring& archive, PackageSummary& summary);

// The progress stored before entry index of count: floor(index * 10000 / count).
int32_t ExtractionProgress(uint32_t index, uint32_t count);

// The attributes to apply for a stored attribute word: archives made on POSIX systems carry mode
// bits in the high half and flag that with 0x8000; only the Windows bits are applied then.
unsigned long WindowsAttributesOf(unsigned long storedAttributes);
