// Extracts an archive with the launcher's extractor and prints the seconds it took.
//   extract_bench.exe ARCHIVE DESTINATION\   (the destination ends with a separator)
#include <windows.h>

#include <cstdio>

#include "transfer/Extract7z.h"

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) return 2;
    AtomicInt progress{0};
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    int result = Extract7z(argv[1], argv[2], &progress);
    QueryPerformanceCounter(&end);
    printf("%.6f\n", double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart));
    return result;
}
