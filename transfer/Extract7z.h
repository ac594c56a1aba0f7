// Unpacks a 7z archive into a folder, with progress in basis points.
#pragma once

#include <cstdint>
#include <string>

#include "update/UpdateTask.h"

// Extracts every entry of archive below destination (which ends with a separator), creating the
// folders the names imply. progress (may be null) goes from 0 to 10000. Returns 0 on success,
// 1 when the archive cannot be opened, 2 when memory runs out, 11 when an output file cannot be
// created or written, 16 when an entry name would lead outside the destination (nothing is then
// written), or the decoder's own result code.
int Extract7z(const std::wstring& archive, const std::wstring& destination, AtomicInt* progress);

// The progress stored before entry index of count: floor(index * 10000 / count).
int32_t ExtractionProgress(uint32_t index, uint32_t count);

// Whether an entry name stays below the destination: not absolute, no drive or UNC prefix, no
// ':' at all, no ".." (or other dots-only) component, no Windows device name as a component.
// Both '/' and '\' separate components.
bool IsSafeEntryName(const std::wstring& name);

// The attributes to apply for a stored attribute word: archives made on POSIX systems carry mode
// bits in the high half and flag that with 0x8000; only the Windows bits are applied then.
unsigned long WindowsAttributesOf(unsigned long storedAttributes);
