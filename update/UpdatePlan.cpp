#include "update/UpdatePlan.h"

#include <algorithm>
#include <map>
#include <string>

namespace {

// The installed file whose chunks a new file of its own chunks can take pieces from.
const IndexFile* ChunkedAtSamePath(const PackageIndex& installed, const std::map<std::string, size_t>& byPath,
                                   const std::string& path, size_t& number) {
    const auto found = byPath.find(path);
    if (found == byPath.end()) return nullptr;
    const IndexFile& file = installed.files[found->second];
    if (file.folder < 0 || installed.folders[size_t(file.folder)].chunks.empty()) return nullptr;
    number = found->second;
    return &file;
}

}  // namespace

UpdatePlan PlanUpdate(const PackageIndex& next, const PackageIndex& installed, const std::vector<bool>& intact) {
    UpdatePlan plan;
    plan.files.resize(next.files.size());
    plan.decodeFolder.assign(next.folders.size(), false);

    std::map<std::string, size_t> byPath;
    std::map<Sha256Digest, size_t> intactByHash;
    for (size_t i = 0; i < installed.files.size(); ++i) {
        byPath.emplace(installed.files[i].path, i);
        if (i < intact.size() && intact[i] && installed.files[i].size > 0)
            intactByHash.emplace(installed.files[i].sha256, i);
    }

    for (size_t i = 0; i < next.files.size(); ++i) {
        const IndexFile& file = next.files[i];
        FilePlan& step = plan.files[i];
        if (file.size == 0) {
            step.action = FileAction::Empty;
            continue;
        }
        // The same path first, where the content is the same there too.
        const auto samePath = byPath.find(file.path);
        if (samePath != byPath.end() && samePath->second < intact.size() && intact[samePath->second] &&
            installed.files[samePath->second].sha256 == file.sha256) {
            step = FilePlan{FileAction::Link, samePath->second, {}};
            plan.linkBytes += file.size;
            continue;
        }
        const auto sameContent = intactByHash.find(file.sha256);
        if (sameContent != intactByHash.end() && installed.files[sameContent->second].size == file.size) {
            step = FilePlan{FileAction::Link, sameContent->second, {}};
            plan.linkBytes += file.size;
            continue;
        }
        const IndexFolder& folder = next.folders[size_t(file.folder)];
        plan.writeBytes += file.size;
        if (folder.chunks.empty()) {
            plan.decodeFolder[size_t(file.folder)] = true;
            plan.needsHeaders = true;
            continue;
        }
        step.action = FileAction::Rebuild;
        step.copyPiece.assign(folder.chunks.size(), false);
        size_t number = 0;
        const IndexFile* old = ChunkedAtSamePath(installed, byPath, file.path, number);
        if (!old) continue;
        step.source = number;
        const std::vector<IndexChunk>& oldChunks = installed.folders[size_t(old->folder)].chunks;
        for (size_t k = 0; k < folder.chunks.size(); ++k) {
            const IndexChunk& chunk = folder.chunks[k];
            const auto match = std::lower_bound(
                oldChunks.begin(), oldChunks.end(), chunk.unpackOffset,
                [](const IndexChunk& c, uint64_t offset) { return c.unpackOffset < offset; });
            step.copyPiece[k] = match != oldChunks.end() && match->unpackOffset == chunk.unpackOffset &&
                                match->unpackLength == chunk.unpackLength && match->unpackSha256 == chunk.unpackSha256;
        }
    }
    return plan;
}

std::vector<ByteSpan> HeadersToFetch(const PackageIndex& next, const UpdatePlan& plan) {
    if (!plan.needsHeaders) return {};
    return {next.startHeader, next.endHeader};
}

std::vector<ByteSpan> BlocksToFetch(const PackageIndex& next, const UpdatePlan& plan) {
    std::vector<ByteSpan> spans;
    for (size_t f = 0; f < next.folders.size(); ++f)
        if (plan.decodeFolder[f]) spans.push_back(next.folders[f].packed);
    for (size_t i = 0; i < next.files.size(); ++i) {
        const FilePlan& step = plan.files[i];
        if (step.action != FileAction::Rebuild) continue;
        const IndexFolder& folder = next.folders[size_t(next.files[i].folder)];
        for (size_t k = 0; k < folder.chunks.size(); ++k)
            if (!step.copyPiece[k]) spans.push_back(folder.chunks[k].packed);
    }
    std::sort(spans.begin(), spans.end(), [](const ByteSpan& a, const ByteSpan& b) { return a.offset < b.offset; });
    return spans;
}

std::vector<ByteSpan> SpansToFetch(const PackageIndex& next, const UpdatePlan& plan) {
    std::vector<ByteSpan> spans = BlocksToFetch(next, plan);
    for (const ByteSpan& header : HeadersToFetch(next, plan)) spans.push_back(header);
    std::sort(spans.begin(), spans.end(), [](const ByteSpan& a, const ByteSpan& b) { return a.offset < b.offset; });
    return spans;
}

std::vector<ByteSpan> FetchRequests(const std::vector<ByteSpan>& headers, const std::vector<ByteSpan>& blocks) {
    std::vector<ByteSpan> requests = MergeIntoRequests(headers);
    for (const ByteSpan& request : MergeIntoRequests(blocks)) requests.push_back(request);
    return requests;
}

std::vector<size_t> ShareOutFolders(const std::vector<uint64_t>& folderBytes, size_t threads) {
    std::vector<size_t> order;
    for (size_t f = 0; f < folderBytes.size(); ++f)
        if (folderBytes[f] > 0) order.push_back(f);
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return folderBytes[a] > folderBytes[b]; });
    std::vector<uint64_t> load(std::max<size_t>(1, std::min(threads, order.size())), 0);
    std::vector<size_t> thread(folderBytes.size(), 0);
    for (size_t f : order) {
        const size_t least = size_t(std::min_element(load.begin(), load.end()) - load.begin());
        thread[f] = least;
        load[least] += folderBytes[f];
    }
    return thread;
}
