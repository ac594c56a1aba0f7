#include "rules/PackageIndex.h"

#include <algorithm>

#include "rules/EntryName.h"
#include "rules/ManifestFields.h"
#include "rules/Utf8.h"

namespace {

const char kFirstLine[] = "quenby-package-index 1";

std::string SpanText(const ByteSpan& span) {
    return std::to_string(span.offset) + " " + std::to_string(span.length) + " " + Sha256Hex(span.sha256);
}

// The lines of the text, each without its "\n"; false when the last one has none (cut short).
bool SplitLines(const std::string& text, std::vector<std::string>& lines) {
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find('\n', start);
        if (end == std::string::npos) return false;
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return true;
}

// One line's fields, read left to right; the path takes the rest of the line.
class Fields {
public:
    explicit Fields(const std::string& line) : m_line(line) {}
    bool Word(std::string& word) {
        if (m_at > m_line.size()) return false;
        const size_t end = std::min(m_line.find(' ', m_at), m_line.size());
        word = m_line.substr(m_at, end - m_at);
        m_at = end + 1;
        return !word.empty();
    }
    bool Expect(const char* word) {
        std::string w;
        return Word(w) && w == word;
    }
    bool Number(uint64_t& value) {
        std::string w;
        if (!Word(w) || w.size() > 20 || (w.size() > 1 && w[0] == '0')) return false;
        value = 0;
        for (char c : w) {
            if (c < '0' || c > '9') return false;
            const uint64_t digit = uint64_t(c - '0');
            if (value > (UINT64_MAX - digit) / 10) return false;
            value = value * 10 + digit;
        }
        return true;
    }
    bool Hash(Sha256Digest& digest) {
        std::string w;
        if (!Word(w) || w.size() != 64) return false;
        for (char c : w)
            if ((c < '0' || c > '9') && (c < 'a' || c > 'f')) return false;
        return ParseSha256Hex(w, digest);
    }
    bool Span(ByteSpan& span) { return Number(span.offset) && Number(span.length) && Hash(span.sha256); }
    bool Rest(std::string& rest) {
        if (m_at >= m_line.size()) return false;
        rest = m_line.substr(m_at);
        m_at = m_line.size() + 1;
        return true;
    }
    bool AtEnd() const { return m_at > m_line.size(); }

private:
    const std::string& m_line;
    size_t m_at = 0;
};

bool FitsIn(const ByteSpan& span, uint64_t size) { return span.offset <= size && span.length <= size - span.offset; }

// The path as the launcher normalises entry names, and nothing else: '/' between components.
bool IsNormalPath(const std::string& path, std::wstring& wide) {
    if (!WideFromUtf8(path, wide)) return false;
    std::wstring normalized;
    if (NormalizeEntryName(wide, normalized) != NameProblem::None || normalized.empty()) return false;
    std::replace(normalized.begin(), normalized.end(), L'\\', L'/');
    return normalized == wide;
}

class IndexReader {
public:
    IndexReader(const std::vector<std::string>& lines, PackageIndex& index) : m_lines(lines), m_index(index) {}

    std::string Read() {
        if (m_lines.empty() || m_lines[0] != kFirstLine) return "not a package index (its first line)";
        m_at = 1;
        uint64_t folders = 0, chunks = 0, files = 0, directories = 0;
        Fields counts(Line());
        if (!counts.Expect("package") || !counts.Number(m_index.packageSize) || !counts.Expect("folders") ||
            !counts.Number(folders) || !counts.Expect("chunks") || !counts.Number(chunks) ||
            !counts.Expect("files") || !counts.Number(files) || !counts.Expect("directories") ||
            !counts.Number(directories) || !counts.AtEnd())
            return Problem("the counts are malformed");
        for (uint64_t count : {folders, chunks, files, directories})
            if (count > PACKAGE_INDEX_MAX_ITEMS) return Problem("a count is larger than an index may hold");
        // Every item takes a line: counts that the text cannot hold are refused before anything
        // is reserved for them.
        if (4 + folders + chunks + files + directories != m_lines.size()) return Problem("the counts do not match the lines");

        std::string problem = ReadHeaders();
        if (problem.empty()) problem = ReadFolders(folders, chunks);
        if (problem.empty()) problem = ReadFiles(files);
        if (problem.empty()) problem = ReadDirectories(directories);
        if (problem.empty()) problem = CheckFolderContents();
        if (problem.empty()) problem = CheckNames();
        return problem;
    }

private:
    const std::string& Line() { return m_lines[m_at++]; }
    std::string Problem(const std::string& what) const { return "line " + std::to_string(m_at) + ": " + what; }

    std::string ReadHeaders() {
        Fields start(Line());
        if (!start.Expect("start") || !start.Span(m_index.startHeader) || !start.AtEnd())
            return Problem("malformed start header");
        if (m_index.startHeader.offset != 0 || !FitsIn(m_index.startHeader, m_index.packageSize))
            return Problem("the start header is not at the package's start");
        Fields end(Line());
        if (!end.Expect("end") || !end.Span(m_index.endHeader) || !end.AtEnd()) return Problem("malformed end header");
        if (!FitsIn(m_index.endHeader, m_index.packageSize) || m_index.endHeader.End() != m_index.packageSize ||
            m_index.endHeader.offset < m_index.startHeader.End())
            return Problem("the end header is not at the package's end");
        return "";
    }

    std::string ReadFolders(uint64_t folders, uint64_t chunks) {
        m_index.folders.reserve(size_t(folders));
        uint64_t previousEnd = m_index.startHeader.End(), chunksRead = 0;
        while (m_index.folders.size() < folders) {
            IndexFolder folder;
            Fields f(Line());
            std::string property;
            if (!f.Expect("folder") || !f.Span(folder.packed) || !f.Number(folder.unpackSize) || !f.Word(property) ||
                !f.AtEnd())
                return Problem("malformed folder");
            if (property != "-") {
                uint64_t value = 0;
                Fields p(property);
                if (!p.Number(value) || value > 40) return Problem("not an LZMA2 property");
                folder.lzma2Property = int(value);
            }
            if (folder.packed.offset < previousEnd || !FitsIn(folder.packed, m_index.endHeader.offset))
                return Problem("the folder overlaps another span or lies outside the package's data");
            previousEnd = folder.packed.End();
            std::string problem = ReadChunks(folder, chunks - chunksRead);
            if (!problem.empty()) return problem;
            chunksRead += folder.chunks.size();
            m_index.folders.push_back(std::move(folder));
        }
        if (chunksRead != chunks) return Problem("the chunk count does not match the chunk lines");
        return "";
    }

    // The chunk lines after a folder: together they cover its packed and unpacked bytes exactly.
    std::string ReadChunks(IndexFolder& folder, uint64_t left) {
        uint64_t packedAt = folder.packed.offset, unpackedAt = 0;
        while (m_at < m_lines.size() && m_lines[m_at].compare(0, 6, "chunk ") == 0) {
            if (left-- == 0) return Problem("more chunk lines than counted");
            if (folder.lzma2Property < 0) return Problem("chunks of a folder that is not LZMA2 alone");
            IndexChunk chunk;
            Fields c(Line());
            if (!c.Expect("chunk") || !c.Number(chunk.unpackOffset) || !c.Number(chunk.unpackLength) ||
                !c.Hash(chunk.unpackSha256) || !c.Span(chunk.packed) || !c.AtEnd())
                return Problem("malformed chunk");
            if (chunk.packed.offset != packedAt || chunk.unpackOffset != unpackedAt || chunk.packed.length == 0 ||
                chunk.unpackLength == 0 || !FitsIn(chunk.packed, folder.packed.End()) ||
                chunk.unpackLength > folder.unpackSize - unpackedAt)
                return Problem("the chunk does not follow the one before it inside its folder");
            packedAt = chunk.packed.End();
            unpackedAt += chunk.unpackLength;
            folder.chunks.push_back(chunk);
        }
        if (!folder.chunks.empty() && (packedAt != folder.packed.End() || unpackedAt != folder.unpackSize))
            return Problem("the chunks do not cover their folder");
        return "";
    }

    std::string ReadFiles(uint64_t files) {
        m_index.files.reserve(size_t(files));
        while (m_index.files.size() < files) {
            IndexFile file;
            Fields f(Line());
            std::string folder;
            if (!f.Expect("file") || !f.Word(folder) || !f.Number(file.size) || !f.Hash(file.sha256) || !f.Rest(file.path))
                return Problem("malformed file");
            if (folder != "-") {
                uint64_t number = 0;
                Fields n(folder);
                if (!n.Number(number) || number >= m_index.folders.size()) return Problem("no such folder");
                file.folder = int64_t(number);
            }
            if ((file.folder < 0) != (file.size == 0)) return Problem("an empty file has no folder, any other one has");
            m_index.files.push_back(std::move(file));
        }
        return "";
    }

    std::string ReadDirectories(uint64_t directories) {
        while (m_index.directories.size() < directories) {
            Fields d(Line());
            std::string path;
            if (!d.Expect("dir") || !d.Rest(path)) return Problem("malformed directory");
            m_index.directories.push_back(path);
        }
        return "";
    }

    // Each folder's files fill it exactly; a folder with chunks holds one file.
    std::string CheckFolderContents() {
        const std::vector<std::vector<size_t>> byFolder = FilesByFolder(m_index);
        for (size_t f = 0; f < byFolder.size(); ++f) {
            uint64_t sum = 0;
            for (size_t file : byFolder[f]) {
                if (m_index.files[file].size > m_index.folders[f].unpackSize - sum)
                    return "folder " + std::to_string(f) + ": its files are larger than it";
                sum += m_index.files[file].size;
            }
            if (sum != m_index.folders[f].unpackSize) return "folder " + std::to_string(f) + ": its files do not fill it";
            if (!m_index.folders[f].chunks.empty() && byFolder[f].size() != 1)
                return "folder " + std::to_string(f) + ": chunks of a folder of several files";
        }
        return "";
    }

    // The launcher's own name rule over every path, as if they were the package's entries.
    std::string CheckNames() {
        std::vector<PackageEntry> entries;
        entries.reserve(m_index.files.size() + m_index.directories.size());
        for (const IndexFile& file : m_index.files) {
            std::wstring wide;
            if (!IsNormalPath(file.path, wide)) return "file " + file.path + ": not a normalised name the launcher takes";
            entries.push_back(PackageEntry{wide, false});
        }
        for (const std::string& path : m_index.directories) {
            std::wstring wide;
            if (!IsNormalPath(path, wide)) return "directory " + path + ": not a normalised name the launcher takes";
            entries.push_back(PackageEntry{wide, true});
        }
        std::vector<std::wstring> normalized;
        const NameCheck check = CheckPackageEntries(entries, normalized);
        if (check.problem != NameProblem::None) return std::string("a name the launcher refuses: it ") + DescribeNameProblem(check.problem);
        if (!HoldsGameAtTop(entries, normalized)) return "no Vantrel.exe at the top";
        return "";
    }

    const std::vector<std::string>& m_lines;
    PackageIndex& m_index;
    size_t m_at = 0;
};

}  // namespace

uint64_t PackageIndex::ChunkCount() const {
    uint64_t count = 0;
    for (const IndexFolder& folder : folders) count += folder.chunks.size();
    return count;
}

std::string FormatPackageIndex(const PackageIndex& index) {
    std::string text = std::string(kFirstLine) + "\n";
    text += "package " + std::to_string(index.packageSize) + " folders " + std::to_string(index.folders.size()) +
            " chunks " + std::to_string(index.ChunkCount()) + " files " + std::to_string(index.files.size()) +
            " directories " + std::to_string(index.directories.size()) + "\n";
    text += "start " + SpanText(index.startHeader) + "\n";
    text += "end " + SpanText(index.endHeader) + "\n";
    for (const IndexFolder& folder : index.folders) {
        text += "folder " + SpanText(folder.packed) + " " + std::to_string(folder.unpackSize) + " " +
                (folder.lzma2Property < 0 ? std::string("-") : std::to_string(folder.lzma2Property)) + "\n";
        for (const IndexChunk& chunk : folder.chunks)
            text += "chunk " + std::to_string(chunk.unpackOffset) + " " + std::to_string(chunk.unpackLength) + " " +
                    Sha256Hex(chunk.unpackSha256) + " " + SpanText(chunk.packed) + "\n";
    }
    for (const IndexFile& file : index.files)
        text += "file " + (file.folder < 0 ? std::string("-") : std::to_string(file.folder)) + " " +
                std::to_string(file.size) + " " + Sha256Hex(file.sha256) + " " + file.path + "\n";
    for (const std::string& path : index.directories) text += "dir " + path + "\n";
    return text;
}

std::string ParsePackageIndex(const std::string& text, PackageIndex& index) {
    index = PackageIndex();
    if (text.size() > PACKAGE_INDEX_MAX_BYTES) return "larger than an index may be";
    std::vector<std::string> lines;
    if (!SplitLines(text, lines)) return "cut short (the last line has no end)";
    std::string problem = IndexReader(lines, index).Read();
    if (!problem.empty()) index = PackageIndex();
    return problem;
}

std::vector<ByteSpan> SpansInPackageOrder(const PackageIndex& index) {
    std::vector<ByteSpan> spans{index.startHeader};
    for (const IndexFolder& folder : index.folders) {
        if (folder.chunks.empty()) {
            spans.push_back(folder.packed);
            continue;
        }
        for (const IndexChunk& chunk : folder.chunks) spans.push_back(chunk.packed);
    }
    spans.push_back(index.endHeader);
    uint64_t at = 0;
    for (const ByteSpan& span : spans) {
        if (span.offset != at) return {};
        at = span.End();
    }
    return at == index.packageSize ? spans : std::vector<ByteSpan>();
}

uint64_t UnpackedBytes(const PackageIndex& index) {
    uint64_t total = 0;
    for (const IndexFile& file : index.files) total = file.size > UINT64_MAX - total ? UINT64_MAX : total + file.size;
    return total;
}

std::vector<std::vector<size_t>> FilesByFolder(const PackageIndex& index) {
    std::vector<std::vector<size_t>> byFolder(index.folders.size());
    for (size_t i = 0; i < index.files.size(); ++i)
        if (index.files[i].folder >= 0 && size_t(index.files[i].folder) < byFolder.size())
            byFolder[size_t(index.files[i].folder)].push_back(i);
    return byFolder;
}
