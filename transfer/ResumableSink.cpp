#include "transfer/ResumableSink.h"

#include <windows.h>

#include <algorithm>
#include <sstream>

#include "platform/FileSystem.h"

namespace {
uint64_t FileSizeOf(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA info;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &info)) return 0;
    return (uint64_t(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
}
}  // namespace

std::string FormatResumeRecord(const ResumeRecord& r) {
    return "url=" + r.url + "\n" + "size=" + (r.hasSize ? std::to_string(r.size) : std::string()) + "\n" +
           "sha256=" + r.sha256 + "\n" + "validator=" + r.validator + "\n" +
           (r.source.empty() ? std::string() : "source=" + r.source + "\n");
}

bool ParseResumeRecord(const std::string& text, ResumeRecord& r) {
    r = ResumeRecord();
    std::istringstream lines(text);
    bool sawUrl = false;
    for (std::string line; std::getline(lines, line);) {
        const size_t equals = line.find('=');
        if (equals == std::string::npos) return false;
        const std::string key = line.substr(0, equals), value = line.substr(equals + 1);
        if (key == "url") {
            r.url = value;
            sawUrl = true;
        } else if (key == "size") {
            r.hasSize = !value.empty();
            if (r.hasSize) {
                if (value.find_first_not_of("0123456789") != std::string::npos || value.size() > 19) return false;
                r.size = std::stoull(value);
            }
        } else if (key == "sha256") {
            r.sha256 = value;
        } else if (key == "validator") {
            r.validator = value;
        } else if (key == "source") {
            r.source = value;
        }
    }
    return sawUrl;
}

bool CanContinue(const ResumeRecord& saved, const ResumeRecord& wanted, uint64_t partialSize) {
    return saved.url == wanted.url && saved.hasSize == wanted.hasSize && saved.size == wanted.size &&
           saved.sha256 == wanted.sha256 && !saved.validator.empty() && partialSize > 0 &&
           (!wanted.hasSize || partialSize < wanted.size);
}

ResumeAnswer JudgeResumeResponse(uint64_t offset, const std::string& savedValidator, const ResponseStart& response) {
    if (offset == 0 || response.status == 200) return ResumeAnswer::StartOver;
    // A server that ignored If-Range may send a range of another file: its validator tells.
    // Without one to ask with (another server of the same package), the hash of the whole does.
    if (!savedValidator.empty() && !response.validator.empty() && response.validator != savedValidator)
        return ResumeAnswer::Refuse;
    if (response.status == 206 && response.rangeStart >= 0 && uint64_t(response.rangeStart) == offset)
        return ResumeAnswer::Append;
    return ResumeAnswer::Refuse;
}

ResumableSink::ResumableSink(const std::wstring& path, const ResumeRecord& wanted, bool withHash)
    : FileSink(wanted.hasSize ? wanted.size : UINT64_MAX, withHash),
      m_path(path),
      m_recordPath(path + L".resume"),
      m_wanted(wanted) {}

bool ResumableSink::Prepare() {
    std::string text;
    ResumeRecord saved;
    const uint64_t partial = FileSizeOf(m_path);
    if (ReadWholeFile(m_recordPath, text) && ParseResumeRecord(text, saved) &&
        CanContinue(saved, m_wanted, partial) && OpenToContinue(m_path, partial)) {
        m_saved = saved;
        m_offset = partial;
        return true;
    }
    return StartAfresh();
}

bool ResumableSink::StartAfresh() {
    Close();
    Discard();
    m_saved = ResumeRecord();
    m_offset = 0;
    m_restartNeeded = false;
    return Open(m_path);
}

bool ResumableSink::ContinueElsewhere(uint64_t keep) {
    Close();
    const uint64_t partial = std::min(keep, FileSizeOf(m_path));
    if (m_wanted.sha256.empty() || partial == 0 || !OpenToContinue(m_path, partial)) return StartAfresh();
    m_saved = m_wanted;
    m_saved.validator.clear();
    m_offset = partial;
    m_restartNeeded = false;
    return true;
}

void ResumableSink::Discard() {
    Close();
    DeleteFileW(m_recordPath.c_str());
    DeleteFileW(m_path.c_str());
}

int64_t ResumableSink::BeginBody(const ResponseStart& response) {
    switch (JudgeResumeResponse(m_offset, m_saved.validator, response)) {
    case ResumeAnswer::Append:
        SaveRecord(response.validator.empty() ? m_saved.validator : response.validator);
        return int64_t(m_offset);
    case ResumeAnswer::StartOver:
        if (m_offset > 0 && !m_restartInPlace) {
            m_restartNeeded = true;
            return -1;
        }
        if (m_offset > 0 && !Restart()) return -1;
        m_offset = 0;
        SaveRecord(response.validator);
        return 0;
    case ResumeAnswer::Refuse:
    default:
        m_restartNeeded = true;
        return -1;
    }
}

void ResumableSink::EndTransfer(long status) {
    if (m_offset > 0 && status == 416) m_restartNeeded = true;
}

void ResumableSink::SaveRecord(const std::string& validator) {
    ResumeRecord record = m_wanted;
    record.validator = validator;
    record.source = m_source;
    // Written before the body, so a launcher closed mid-download leaves it beside the file.
    WriteWholeFile(m_recordPath, FormatResumeRecord(record));
}
