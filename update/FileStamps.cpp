#include "update/FileStamps.h"

#include <windows.h>

#include <algorithm>
#include <set>
#include <sstream>

#include "platform/ScopedWin.h"
#include "platform/Sha256.h"
#include "rules/EntryName.h"
#include "rules/Utf8.h"

namespace {

const char kStampsFirstLine[] = "quenby-stamps 1";

uint64_t FileTimeValue(const FILETIME& time) { return uint64_t(time.dwHighDateTime) << 32 | time.dwLowDateTime; }

// A path folded as Windows compares names, for the tree check.
std::wstring Folded(std::wstring path) {
    for (wchar_t& c : path) c = c == L'/' ? L'\\' : FoldNameCase(c);
    return path;
}

// Every folder a '\\'-separated path lies in.
void AddParents(const std::wstring& path, std::set<std::wstring>& folders) {
    for (size_t at = path.find(L'\\'); at != std::wstring::npos; at = path.find(L'\\', at + 1))
        folders.insert(path.substr(0, at));
}

bool ListTree(const std::wstring& dir, const std::wstring& relative, std::map<std::wstring, uint64_t>& files,
              std::set<std::wstring>& folders) {
    WIN32_FIND_DATAW found;
    const std::wstring folder = relative.empty() ? dir : dir + L"\\" + relative;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
    scoped::FindHandle closer(find);
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::wstring path = relative.empty() ? name : relative + L"\\" + name;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return false;  // never the release's
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            folders.insert(Folded(path));
            if (!ListTree(dir, path, files, folders)) return false;
        } else {
            files[Folded(path)] = uint64_t(found.nFileSizeHigh) << 32 | found.nFileSizeLow;
        }
    } while (FindNextFileW(find, &found));
    return GetLastError() == ERROR_NO_MORE_FILES;
}

}  // namespace

std::string FormatStamps(const PackageIndex& index, const std::vector<FileStamp>& stamps) {
    std::string text = std::string(kStampsFirstLine) + "\n";
    for (size_t i = 0; i < index.files.size() && i < stamps.size(); ++i)
        text += std::to_string(stamps[i].size) + " " + std::to_string(stamps[i].lastWrite) + " " + index.files[i].path + "\n";
    return text;
}

bool ParseStamps(const std::string& text, std::map<std::string, FileStamp>& stamps) {
    stamps.clear();
    std::istringstream lines(text);
    std::string line;
    if (!std::getline(lines, line) || line != kStampsFirstLine) return false;
    while (std::getline(lines, line)) {
        const size_t first = line.find(' '), second = first == std::string::npos ? first : line.find(' ', first + 1);
        if (second == std::string::npos || second + 1 >= line.size()) return false;
        FileStamp stamp;
        try {
            size_t used = 0;
            stamp.size = std::stoull(line.substr(0, first), &used);
            if (used != first) return false;
            stamp.lastWrite = std::stoull(line.substr(first + 1, second - first - 1), &used);
            if (used != second - first - 1) return false;
        } catch (const std::exception&) {
            return false;
        }
        stamps.emplace(line.substr(second + 1), stamp);
    }
    return true;
}

std::wstring WindowsIndexPath(const std::string& indexPath) {
    std::wstring wide;
    WideFromUtf8(indexPath, wide);
    std::replace(wide.begin(), wide.end(), L'/', L'\\');
    return wide;
}

std::wstring IndexPathOnDisk(const std::wstring& dir, const std::string& indexPath) {
    return dir + L"\\" + WindowsIndexPath(indexPath);
}

bool ReadFileStamp(const std::wstring& path, FileStamp& stamp) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
        return false;
    stamp.size = uint64_t(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
    stamp.lastWrite = FileTimeValue(data.ftLastWriteTime);
    return true;
}

bool StampFiles(const std::wstring& dir, const PackageIndex& index, std::vector<FileStamp>& stamps) {
    stamps.assign(index.files.size(), FileStamp());
    for (size_t i = 0; i < index.files.size(); ++i)
        if (!ReadFileStamp(IndexPathOnDisk(dir, index.files[i].path), stamps[i])) return false;
    return true;
}

std::vector<bool> UnchangedFiles(const std::wstring& dir, const PackageIndex& index,
                                 const std::map<std::string, FileStamp>& stamps) {
    std::vector<bool> unchanged(index.files.size(), false);
    for (size_t i = 0; i < index.files.size(); ++i) {
        const auto installed = stamps.find(index.files[i].path);
        FileStamp now;
        unchanged[i] = installed != stamps.end() && installed->second.size == index.files[i].size &&
                       ReadFileStamp(IndexPathOnDisk(dir, index.files[i].path), now) && now == installed->second;
    }
    return unchanged;
}

bool HoldsEveryFile(const std::wstring& dir, const PackageIndex& index) {
    for (const IndexFile& file : index.files) {
        FileStamp now;
        if (!ReadFileStamp(IndexPathOnDisk(dir, file.path), now) || now.size != file.size) return false;
    }
    return true;
}

bool HashMatchingFiles(const std::wstring& dir, const PackageIndex& index, std::vector<bool>& matching,
                       AtomicInt* progress, const StopFlag* stop) {
    matching.assign(index.files.size(), false);
    uint64_t total = 0, done = 0;
    for (const IndexFile& file : index.files) total += file.size;
    std::vector<uint8_t> block(1 << 20);
    for (size_t i = 0; i < index.files.size(); ++i) {
        const IndexFile& file = index.files[i];
        scoped::Handle in(CreateFileW(IndexPathOnDisk(dir, file.path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        Sha256 hash;
        uint64_t read = 0;
        DWORD got = 0;
        while (in.IsValid() && ReadFile(in.Get(), block.data(), DWORD(block.size()), &got, nullptr) && got > 0) {
            if (StopRequested(stop)) return false;
            hash.Add(block.data(), got);
            read += got;
            if (progress && total) progress->store(int32_t(std::min(total, done + read) * PROGRESS_FULL / total));
        }
        Sha256Digest digest{};
        matching[i] = in.IsValid() && read == file.size && hash.Finish(digest) && digest == file.sha256;
        done += file.size;
    }
    if (progress) progress->store(PROGRESS_FULL);
    return true;
}

bool TreeMatchesIndex(const std::wstring& dir, const PackageIndex& index) {
    std::map<std::wstring, uint64_t> files;
    std::set<std::wstring> folders;
    if (!ListTree(dir, L"", files, folders) || files.size() != index.files.size()) return false;
    std::set<std::wstring> expectedFolders;
    for (const IndexFile& file : index.files) {
        std::wstring wide;
        WideFromUtf8(file.path, wide);
        const std::wstring folded = Folded(wide);
        const auto found = files.find(folded);
        if (found == files.end() || found->second != file.size) return false;
        AddParents(folded, expectedFolders);
    }
    for (const std::string& path : index.directories) {
        std::wstring wide;
        WideFromUtf8(path, wide);
        const std::wstring folded = Folded(wide);
        expectedFolders.insert(folded);
        AddParents(folded, expectedFolders);
    }
    return folders == expectedFolders;
}
