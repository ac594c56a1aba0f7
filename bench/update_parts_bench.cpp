// The safe update's own costs, apart from the download and the extraction: the SHA-256 of the
// package as it would be computed on the way in (the file read in the download's piece size,
// only the hashing timed), and the swap of two unpacked games (renames), with the old game's
// deletion timed on its own.
//   update_parts_bench.exe PACKAGE WORKDIR
// Prints "hash=<s> swap=<s> delete_old=<s> hash_mib_s=<x>".
#include <windows.h>

#include <cstdio>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/ScopedWin.h"
#include "platform/Sha256.h"
#include "transfer/Extract7z.h"
#include "update/GameFolders.h"

namespace {
double Seconds(LARGE_INTEGER from, LARGE_INTEGER to) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return double(to.QuadPart - from.QuadPart) / double(frequency.QuadPart);
}
}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) return 2;
    const std::wstring package = argv[1], work = argv[2];

    scoped::Handle file(CreateFileW(package.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
    if (!file.IsValid()) return 1;
    std::vector<char> piece(256 * 1024);
    Sha256 hash;
    double hashing = 0;
    unsigned long long total = 0;
    for (DWORD got = 0; ReadFile(file.Get(), piece.data(), DWORD(piece.size()), &got, nullptr) && got;) {
        LARGE_INTEGER a, b;
        QueryPerformanceCounter(&a);
        hash.Add(piece.data(), got);
        QueryPerformanceCounter(&b);
        hashing += Seconds(a, b);
        total += got;
    }
    Sha256Digest digest{};
    if (!hash.Finish(digest)) return 1;

    const std::wstring game = work + L"\\game", staged = work + L"\\game.new", old = work + L"\\game.old";
    CreateDirectoryTree(game);
    CreateDirectoryTree(staged);
    if (Extract7z(package, game + L"\\", nullptr) != 0 || Extract7z(package, staged + L"\\", nullptr) != 0)
        return 1;
    LARGE_INTEGER a, b, c;
    QueryPerformanceCounter(&a);
    const bool swapped = SwapInStagedGame(game);
    QueryPerformanceCounter(&b);
    DeleteDirectoryTree(old);
    QueryPerformanceCounter(&c);
    DeleteDirectoryTree(game);
    if (!swapped) return 1;
    printf("hash=%.6f swap=%.6f delete_old=%.6f hash_mib_s=%.1f\n", hashing, Seconds(a, b), Seconds(b, c),
           total / 1048576.0 / (hashing > 0 ? hashing : 1e-9));
    return 0;
}
