// Directory trees and simple file probes on the wide Win32 file functions.
#pragma once

#include <cstdint>
#include <string>

// Creates a directory and every missing parent ('\' and '/' both separate). For a path that
// already exists: whether it is a directory (or reparse point); otherwise whether the final
// creation succeeded.
bool CreateDirectoryTree(const std::wstring& path);

// Removes a directory with everything below it, depth first, stopping at the first entry that
// resists. Junctions and directory links are removed themselves, never descended into, the
// directory itself included (a link given here goes; its target's files stay). Every
// path it builds must fit in MAX_PATH units; one that does not ends the deletion with false.
// True when the directory itself was removed at the end.
bool DeleteDirectoryTree(const std::wstring& directory);

// Removes a directory tree if there is one; true when nothing is at the path afterwards.
bool RemoveTreeIfPresent(const std::wstring& directory);

// Whether the file can be opened for reading (shared for reading); the handle is closed at once.
bool CanOpenForReading(const std::wstring& path);

// The whole content of a file, shared for reading and writing with other processes. False when
// it cannot be opened or read.
bool ReadWholeFile(const std::wstring& path, std::string& bytes);

// Writes all of data to an open file, in pieces of at most 4 MiB; false when a piece fails or
// writes nothing.
bool WriteAll(void* file, const void* data, size_t size);

// Positional reads and writes of exactly size bytes at offset of an open file (the file pointer
// is left alone); false when fewer bytes were read or written.
bool ReadFileAt(void* file, uint64_t offset, void* data, uint32_t size);
bool WriteFileAt(void* file, uint64_t offset, const void* data, uint32_t size);

// Creates (or replaces) a file with exactly these bytes, on the disk (flushed) before it returns.
// False when it cannot be written whole.
bool WriteWholeFile(const std::wstring& path, const std::string& bytes);
