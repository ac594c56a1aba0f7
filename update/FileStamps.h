// What the installed game's files looked like when they were installed ("game\version.stamps"):
// each file's size and last-write time, so that an update notices a file the player changed
// since and never takes it for the release's. And the checks of the installed files against the
// installed index: by those stamps (cheap), or by hashing every byte ("-repair").
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/Progress.h"
#include "platform/SharedText.h"
#include "platform/StopFlag.h"
#include "rules/PackageIndex.h"

struct FileStamp {
    uint64_t size = 0;
    uint64_t lastWrite = 0;  // FILETIME, 100 ns since 1601
    bool operator==(const FileStamp& other) const { return size == other.size && lastWrite == other.lastWrite; }
};

// "quenby-stamps 1", then "<size> <last-write> <path>" per file, in the index's order.
std::string FormatStamps(const PackageIndex& index, const std::vector<FileStamp>& stamps);
// False for text that is not a stamps file; a path listed twice keeps its first stamp.
bool ParseStamps(const std::string& text, std::map<std::string, FileStamp>& stamps);

// An index path as Windows writes it: wide, '\' separators.
std::wstring WindowsIndexPath(const std::string& indexPath);
// dir + "\" + WindowsIndexPath(indexPath).
std::wstring IndexPathOnDisk(const std::wstring& dir, const std::string& indexPath);
// The file's size and last-write time now; false when it is not a file that can be read.
bool ReadFileStamp(const std::wstring& path, FileStamp& stamp);
// Every file of the index below dir; false when one cannot be read.
bool StampFiles(const std::wstring& dir, const PackageIndex& index, std::vector<FileStamp>& stamps);

// Per file of the index: on the disk with the index's size and the stamp it was installed with.
std::vector<bool> UnchangedFiles(const std::wstring& dir, const PackageIndex& index,
                                 const std::map<std::string, FileStamp>& stamps);
// Whether every file of the index is there with its size.
bool HoldsEveryFile(const std::wstring& dir, const PackageIndex& index);
// Per file of the index: its bytes hash to the index's SHA-256. progress follows the bytes read;
// false when stopped.
bool HashMatchingFiles(const std::wstring& dir, const PackageIndex& index, std::vector<bool>& matching,
                       AtomicInt* progress, const StopFlag* stop);

// Whether dir holds exactly the index's files (each with its size) and folders, nothing else.
bool TreeMatchesIndex(const std::wstring& dir, const PackageIndex& index);
