#include "transfer/Download.h"

#include "transfer/ServerCertificate.h"
#include "transfer/SystemProxy.h"

#define CURL_DISABLE_DEPRECATION  // the classic progress callback is the one used here
#include <curl/curl.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::atomic<long> g_stallSeconds{DOWNLOAD_STALL_SECONDS};
constexpr long DOWNLOAD_BUFFER_BYTES = 256 * 1024;

std::atomic<uint64_t> g_rateCap{0};  // bytes per second, 0: none

// What the write callback needs: where the body goes, and the handle to ask which response the
// data belongs to.
struct WriteTarget {
    DownloadSink* sink;
    CURL* curl;
    DownloadProgress* progress;
    ResponseStart response;  // of the response whose headers came last
    std::string etag, lastModified;
    bool bodyStarted = false;
    bool sawHttps = false;    // a response of the chain came over TLS
    bool downgraded = false;  // then one came over plain http: refused
    bool untrusted = false;   // an https server's certificate failed the check
    ULONGLONG bodyStartMs = 0;  // for the cap: when the body began, and its bytes since
    uint64_t bodyBytes = 0;
};

// The certificates the connection's server sent, checked here too: the system's TLS does not
// check them everywhere the launcher runs.
bool ServerIsTrusted(CURL* curl, const char* url) {
    curl_certinfo* info = nullptr;
    if (curl_easy_getinfo(curl, CURLINFO_CERTINFO, &info) != CURLE_OK || !info) return false;
    std::vector<std::string> chain;
    for (int i = 0; i < info->num_of_certs; ++i)
        for (curl_slist* field = info->certinfo[i]; field; field = field->next)
            if (strncmp(field->data, "Cert:", 5) == 0) chain.push_back(field->data + 5);
    std::wstring host;
    for (char c : HostOfUrl(url)) host.push_back(wchar_t(static_cast<unsigned char>(c)));
    return IsTrustedServerCertificate(chain, host);
}

// Under a cap, the transfer waits after each block until its average is back at the cap: the
// connection's buffers fill and the server is held back, so the line is left free.
void HoldToCap(WriteTarget& t, size_t bytes) {
    const uint64_t cap = DownloadRateCap();
    if (cap == 0) return;
    t.bodyBytes += bytes;
    const ULONGLONG due = t.bodyStartMs + t.bodyBytes * 1000 / cap;
    for (ULONGLONG now = GetTickCount64(); now < due; now = GetTickCount64()) {
        if (t.progress && StopRequested(t.progress->stop)) return;
        Sleep(DWORD(std::min<ULONGLONG>(due - now, 100)));
    }
}

std::string Trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return std::string();
    const size_t last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

bool HeaderIs(const std::string& line, const char* name) {
    const size_t length = strlen(name);
    if (line.size() <= length || line[length] != ':') return false;
    for (size_t i = 0; i < length; ++i)
        if (tolower(static_cast<unsigned char>(line[i])) != tolower(static_cast<unsigned char>(name[i])))
            return false;
    return true;
}

// Collects what a resumed download needs from each response's headers (a redirect's too; a
// status line starts the next response afresh). Called from C: nothing is thrown out.
size_t DownloadHeaderCallback(char* data, size_t size, size_t count, void* target) {
    try {
        auto* t = static_cast<WriteTarget*>(target);
        const std::string line(data, size * count);
        if (line.compare(0, 5, "HTTP/") == 0) {
            t->response = ResponseStart();
            t->etag.clear();
            t->lastModified.clear();
            // A redirect chain that reached https never goes back to plain http.
            const char* effective = nullptr;
            curl_easy_getinfo(t->curl, CURLINFO_EFFECTIVE_URL, &effective);
            const bool https = effective && IsHttpsUrl(effective);
            if (!https && t->sawHttps) {
                t->downgraded = true;
                return 0;
            }
            t->sawHttps = t->sawHttps || https;
            if (https && !ServerIsTrusted(t->curl, effective)) {
                t->untrusted = true;
                return 0;
            }
        } else if (HeaderIs(line, "ETag")) {
            t->etag = Trimmed(line.substr(5));
        } else if (HeaderIs(line, "Last-Modified")) {
            t->lastModified = Trimmed(line.substr(14));
        } else if (HeaderIs(line, "Content-Range")) {
            t->response.contentRange = Trimmed(line.substr(14));
            t->response.rangeStart = ContentRangeStart(t->response.contentRange);
        }
    } catch (...) {
        return 0;
    }
    return size * count;
}

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

// Request headers for libcurl, freed with the list's own function.
class CurlHeaders {
public:
    CurlHeaders() = default;
    ~CurlHeaders() { curl_slist_free_all(m_list); }
    CurlHeaders(const CurlHeaders&) = delete;
    CurlHeaders& operator=(const CurlHeaders&) = delete;
    void Add(const std::string& line) { m_list = curl_slist_append(m_list, line.c_str()); }
    curl_slist* Get() const { return m_list; }

private:
    curl_slist* m_list = nullptr;
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

long DownloadStallSeconds() { return g_stallSeconds.load(); }

bool IsHttpsUrl(const std::string& url) {
    static const char kScheme[] = "https://";
    if (url.size() < sizeof kScheme - 1) return false;
    for (size_t i = 0; i + 1 < sizeof kScheme; ++i)
        if (tolower(static_cast<unsigned char>(url[i])) != kScheme[i]) return false;
    return true;
}

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
        if (!t->bodyStarted) {
            t->bodyStarted = true;
            t->response.status = status;
            t->response.validator = ChooseValidator(t->etag, t->lastModified);
            const int64_t continued = t->sink->BeginBody(t->response);
            if (continued < 0) return 0;
            if (t->progress) t->progress->alreadyThere = uint64_t(continued);
            t->bodyStartMs = GetTickCount64();
        }
        const size_t bytes = size * count;
        if (!t->sink->Write(data, bytes)) return 0;
        HoldToCap(*t, bytes);
        return count;
    } catch (...) {
        return 0;
    }
}

std::string ChooseValidator(const std::string& etag, const std::string& lastModified) {
    // A weak ETag ("W/...") promises only equivalent content, never the same bytes.
    const bool strong = !etag.empty() && etag.compare(0, 2, "W/") != 0;
    return strong ? etag : lastModified;
}

int64_t ContentRangeStart(const std::string& value) {
    if (value.compare(0, 6, "bytes ") != 0) return -1;
    int64_t start = 0;
    size_t i = 6;
    if (i >= value.size() || !isdigit(static_cast<unsigned char>(value[i]))) return -1;
    for (; i < value.size() && isdigit(static_cast<unsigned char>(value[i])); ++i) {
        if (start > (INT64_MAX - 9) / 10) return -1;
        start = start * 10 + (value[i] - '0');
    }
    return i < value.size() && value[i] == '-' ? start : -1;
}

bool IsContentRange(const std::string& value, uint64_t first, uint64_t last, uint64_t total) {
    return value == "bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" + std::to_string(total);
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
    if (t && StopRequested(t->stop)) return 1;  // the player left: the transfer ends here
    if (!t) return 0;
    // A continued file counts its earlier bytes as done: the bar goes on where it stopped.
    const double before = double(t->alreadyThere);
    if (t->bytes) t->bytes(uint64_t(dlnow + before), dltotal > 0.001 ? uint64_t(dltotal + before) : 0);
    if (!t->progress) return 0;
    int32_t value = DownloadProgressValue(dltotal > 0.001 ? dltotal + before : 0.0, dlnow + before);
    if (value >= 0) t->progress->store(value);
    return 0;
}

void SetDownloadRateCap(uint64_t bytesPerSecond) {
    g_rateCap = bytesPerSecond > uint64_t(INT64_MAX) ? uint64_t(INT64_MAX) : bytesPerSecond;
}
uint64_t DownloadRateCap() { return g_rateCap; }

int DownloadFile(DownloadProgress* target, const char* url, FILE* out) {
    StreamSink sink(out);
    return DownloadFile(target, url, sink);
}

namespace {

// The transfer itself: where the body and the headers go, progress, redirects, errors, stalls.
void SetTransferOptions(CURL* curl, const std::string& address, WriteTarget& write, DownloadProgress* target) {
    curl_easy_setopt(curl, CURLOPT_URL, address.c_str());
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, DownloadWriteCallback);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &write);
    curl_easy_setopt(curl, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_PROGRESSFUNCTION, DownloadProgressCallback);
    curl_easy_setopt(curl, CURLOPT_PROGRESSDATA, target);
    // http and https only, also where a redirect leads: never a local file or another scheme;
    // from https, https only (what a network could arrange is never followed in plain).
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, IsHttpsUrl(address) ? "https" : "http,https");
    // TLS 1.2 or later, asked for by name: Windows 7 offers 1.2 only then. Revocation is checked
    // where its lists can be reached; a network that blocks them does not stop the update.
    curl_easy_setopt(curl, CURLOPT_SSLVERSION, long(CURL_SSLVERSION_TLSv1_2));
    curl_easy_setopt(curl, CURLOPT_SSL_OPTIONS, long(CURLSSLOPT_REVOKE_BEST_EFFORT));
    curl_easy_setopt(curl, CURLOPT_CERTINFO, 1L);  // the chain, for the check of our own
    // A proxy's answer to CONNECT is not the server's: the header callback sees only the server.
    curl_easy_setopt(curl, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    // A server that takes the connection and never answers the handshake is given up too.
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, DownloadStallSeconds());
    // Error statuses fail the transfer instead of being stored as the body.
    curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
    // Fewer, larger reads: each one is a system call, and they dominate a fast transfer.
    curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, DOWNLOAD_BUFFER_BYTES);
    // A stalled connection ends with CURLE_OPERATION_TIMEDOUT rather than waiting forever.
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, DownloadStallSeconds());
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, DownloadHeaderCallback);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &write);
}

// The user's system proxy, which libcurl does not read by itself; otherwise a direct connection
// (never a proxy from the environment). proxy must outlive the transfer.
void SetSystemProxy(CURL* curl, const std::string& address, std::string& proxy) {
    SystemProxyConfig proxyConfig;
    ReadSystemProxyConfig(proxyConfig);
    proxy = ProxyForHost(proxyConfig, HostOfUrl(address));
    curl_easy_setopt(curl, CURLOPT_PROXY, proxy.c_str());
}

// The span the sink asks for, or the rest of a partial file, only if it is still the same file
// on the server. range and headers must outlive the transfer.
void SetResume(CURL* curl, const DownloadSink& sink, std::string& range, CurlHeaders& headers) {
    range = sink.RequestedRange();
    if (!range.empty()) {
        curl_easy_setopt(curl, CURLOPT_RANGE, range.c_str());
        return;
    }
    const uint64_t resumeOffset = sink.ResumeOffset();
    if (resumeOffset == 0) return;
    range = std::to_string(resumeOffset) + "-";
    curl_easy_setopt(curl, CURLOPT_RANGE, range.c_str());
    // Without a validator (the rest from another server of the package), a plain range: the
    // sink judges the answer.
    if (sink.ResumeValidator().empty()) return;
    headers.Add("If-Range: " + sink.ResumeValidator());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.Get());
}

}  // namespace

int DownloadFile(DownloadProgress* target, const char* url, DownloadSink& sink) {
    CurlGlobal global;
    if (global.Result() != CURLE_OK) return global.Result();

    const std::string address = url ? url : "";

    CurlEasy easy;
    CURL* curl = easy.Get();
    if (!curl) return CURLE_FAILED_INIT;

    WriteTarget write{&sink, curl, target, ResponseStart(), std::string(), std::string(), false};
    if (target) target->alreadyThere = 0;
    std::string proxy, range;
    CurlHeaders headers;
    SetTransferOptions(curl, address, write, target);
    SetSystemProxy(curl, address, proxy);
    SetResume(curl, sink, range, headers);

    const CURLcode result = curl_easy_perform(curl);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, nullptr);  // the handle lets go of the headers

    if (write.downgraded) return CURLE_UNSUPPORTED_PROTOCOL;
    if (write.untrusted) return CURLE_PEER_FAILED_VERIFICATION;
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    sink.EndTransfer(status);
    if ((result == CURLE_OK || result == CURLE_WRITE_ERROR) && status != 0 && !IsSuccessStatus(status))
        return CURLE_HTTP_RETURNED_ERROR;
    return result;
}
