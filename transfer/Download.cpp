#include "transfer/Download.h"

#define CURL_DISABLE_DEPRECATION  // the classic progress callback is the one used here
#include <curl/curl.h>

#include <atomic>
#include <cstring>
#include <string>

namespace {

std::atomic<long> g_stallSeconds{DOWNLOAD_STALL_SECONDS};
constexpr long DOWNLOAD_BUFFER_BYTES = 256 * 1024;

// What the write callback needs: where the body goes, and the handle to ask which response the
// data belongs to.
struct WriteTarget {
    DownloadSink* sink;
    CURL* curl;
};

// The caller's open stream as a sink.
class StreamSink : public DownloadSink {
public:
    explicit StreamSink(FILE* out) : m_out(out) {}
    bool Write(const char* data, size_t size) override {
        return size == 0 || (m_out && fwrite(data, 1, size, m_out) == size);
    }

private:
    FILE* m_out;
};

bool IsSuccessStatus(long status) { return status >= 200 && status <= 299; }

class CurlGlobal {
public:
    CurlGlobal() : m_result(curl_global_init(CURL_GLOBAL_ALL)) {}
    ~CurlGlobal() { if (m_result == CURLE_OK) curl_global_cleanup(); }
    CURLcode Result() const { return m_result; }

private:
    CURLcode m_result;
};

class CurlEasy {
public:
    CurlEasy() : m_curl(curl_easy_init()) {}
    ~CurlEasy() { if (m_curl) curl_easy_cleanup(m_curl); }
    CURL* Get() const { return m_curl; }

private:
    CURL* m_curl;
};

}  // namespace

void SetDownloadStallSecondsForTesting(long seconds) {
    g_stallSeconds = seconds > 0 ? seconds : DOWNLOAD_STALL_SECONDS;
}

size_t DownloadWriteCallback(char* data, size_t size, size_t count, void* target) {
    // Called from C: nothing may be thrown out of here; a fault refuses the block.
    try {
        auto* t = static_cast<WriteTarget*>(target);
        long status = 0;
        curl_easy_getinfo(t->curl, CURLINFO_RESPONSE_CODE, &status);
        // An error page is never stored as the file; refusing the block ends the transfer.
        if (!IsSuccessStatus(status)) return 0;
        const size_t bytes = size * count;
        return t->sink->Write(data, bytes) ? count : 0;
    } catch (...) {
        return 0;
    }
}

int32_t DownloadProgressValue(double dltotal, double dlnow) {
    if (!(dltotal > 0.001)) return -1;
    double value = dlnow / dltotal * 10000.0;
    if (value > 10000.0) value = 10000.0;
    if (value < 0.0) value = 0.0;
    return int32_t(value);
}

int DownloadProgressCallback(void* target, double dltotal, double dlnow, double, double) {
    auto* t = static_cast<DownloadProgress*>(target);
    if (!t || !t->progress) return 0;
    int32_t value = DownloadProgressValue(dltotal, dlnow);
    if (value >= 0) t->progress->store(value);
    return 0;
}

int DownloadFile(DownloadProgress* target, const char* url, FILE* out) {
    StreamSink sink(out);
    return DownloadFile(target, url, sink);
}

int DownloadFile(DownloadProgress* target, const char* url, DownloadSink& sink) {
    CurlGlobal global;
    if (global.Result() != CURLE_OK) return global.Result();

    std::string address = url ? url : "";
    if (address.compare(0, 5, "https") == 0) address.erase(4, 1);

    CurlEasy easy;
    CURL* curl = easy.Get();
    if (!curl) return CURLE_FAILED_INIT;

    WriteTarget write{&sink, curl};
    curl_easy_setopt(curl, CURLOPT_URL, address.c_str());
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, DownloadWriteCallback);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &write);
    curl_easy_setopt(curl, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_PROGRESSFUNCTION, DownloadProgressCallback);
    curl_easy_setopt(curl, CURLOPT_PROGRESSDATA, target);
    // Plain http only, also where a redirect leads: never a local file or another scheme.
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http");
    // Error statuses fail the transfer instead of being stored as the body.
    curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
    // Fewer, larger reads: each one is a system call, and they dominate a fast transfer.
    curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, DOWNLOAD_BUFFER_BYTES);
    // A stalled connection ends with CURLE_OPERATION_TIMEDOUT rather than waiting forever.
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, g_stallSeconds.load());

    CURLcode result = curl_easy_perform(curl);

    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    if ((result == CURLE_OK || result == CURLE_WRITE_ERROR) && status != 0 &&
        !IsSuccessStatus(status))
        return CURLE_HTTP_RETURNED_ERROR;
    return result;
}
