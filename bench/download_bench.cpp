// Downloads a URL into a file with the launcher's downloader and prints the seconds it took.
//   download_bench.exe URL OUTFILE [CAP_KIB_PER_S]
#include <windows.h>

#include <cstdio>
#include <string>

#include "transfer/Download.h"

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) return 2;
    char url[1024] = {};
    WideCharToMultiByte(CP_ACP, 0, argv[1], -1, url, sizeof url, nullptr, nullptr);
    FILE* out = _wfopen(argv[2], L"wb");
    if (!out) return 3;
    if (argc > 3) SetDownloadRateCap(uint64_t(_wtoi64(argv[3])) * 1024);
    AtomicInt progress{0};
    DownloadProgress target{&progress};
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    int result = DownloadFile(&target, url, out);
    fclose(out);
    QueryPerformanceCounter(&end);
    printf("%.6f\n", double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart));
    return result;
}
