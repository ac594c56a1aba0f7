// A package download that survives an interruption: the partial file stays in the temp folder
// with a small record beside it (the URL, the expected size and SHA-256 when the manifest gives
// them, and the server's validator), and the next run of the same package asks only for the
// rest. Whether the server's answer may be appended is decided here; the size and SHA-256 of the
// whole file decide afterwards, so a bad resume never passes for the package.
#pragma once

#include <cstdint>
#include <string>

#include "transfer/FileSink.h"

struct ResumeRecord {
    std::string url;  // the package's own URL: which package this is
    bool hasSize = false;
    uint64_t size = 0;
    std::string sha256;  // lower-case hex, or empty
    std::string validator;
    std::string source;  // the URL (the package's or a mirror's) the validator is from; "" for url
};
std::string FormatResumeRecord(const ResumeRecord& record);
bool ParseResumeRecord(const std::string& text, ResumeRecord& record);

// Whether a partial file of partialSize bytes, kept with saved, can be continued for wanted: the
// same URL, size and hash, a validator to ask with, and something left to fetch.
bool CanContinue(const ResumeRecord& saved, const ResumeRecord& wanted, uint64_t partialSize);

enum class ResumeAnswer {
    Append,     // 206 from exactly the offset asked for, of the same file (validator, when one is
                // asked with)
    StartOver,  // 200: the whole file again, from its first byte
    Refuse,     // anything else: this answer is not used; a fresh request follows
};
ResumeAnswer JudgeResumeResponse(uint64_t offset, const std::string& savedValidator, const ResponseStart& response);

class ResumableSink : public FileSink {
public:
    ResumableSink(const std::wstring& path, const ResumeRecord& wanted, bool withHash);

    // Continues the partial file when its record allows it, else starts a new one (throwing the
    // old file and record away). False when the file cannot be opened.
    bool Prepare();
    // Throws the partial file and its record away, and prepares a plain download.
    bool StartAfresh();
    // Goes on with the first keep bytes of the file (at most what it holds) from another server
    // of the same package, whose validator cannot be compared with the first one's: any answer
    // from the offset is taken, as the package's SHA-256 judges the whole. Without that hash,
    // or with nothing to keep, starts afresh.
    bool ContinueElsewhere(uint64_t keep);
    // The server the next transfer asks, kept in the record with its validator; and, after
    // Prepare, the one the partial file came from ("" for a new file or the package's own URL).
    void FetchFrom(const std::string& url) { m_source = url == m_wanted.url ? std::string() : url; }
    const std::string& SavedSource() const { return m_saved.source; }
    // Deletes the partial file and its record (a finished or refused package).
    void Discard();

    uint64_t ResumeOffset() const override { return m_offset; }
    std::string ResumeValidator() const override { return m_saved.validator; }
    int64_t BeginBody(const ResponseStart& response) override;
    void EndTransfer(long status) override;

    // A server that answers the continuation with the whole file makes the caller start afresh
    // (RestartNeeded) instead of the file being emptied under a reader of its first bytes.
    void NeverRestartInPlace() { m_restartInPlace = false; }
    // The server refused the continuation (a 416, or a range that does not fit): the caller
    // should start afresh.
    bool RestartNeeded() const { return m_restartNeeded; }
    const std::wstring& RecordPath() const { return m_recordPath; }

private:
    void SaveRecord(const std::string& validator);

    std::wstring m_path, m_recordPath;
    ResumeRecord m_wanted, m_saved;
    std::string m_source;
    uint64_t m_offset = 0;
    bool m_restartNeeded = false;
    bool m_restartInPlace = true;
};
