#include "transfer/FolderStream.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

extern "C" {
#include "Bcj2.h"
#include "Bra.h"
#include "CpuArch.h"
#include "Delta.h"
#include "Lzma2DecMt.h"
#include "LzmaDec.h"
}

#include "platform/ByteQueue.h"
#include "rules/CoderTable.h"

namespace {

using namespace coder;
constexpr size_t kInputBuffer = 1 << 18;
constexpr size_t kFilterBuffer = 1 << 20;
constexpr size_t kQueueBytes = 8u << 20;

std::atomic<unsigned> g_multiThreadedStreams{0};

void* PlainAlloc(ISzAllocPtr, size_t size) { return size ? malloc(size) : nullptr; }
void PlainFree(ISzAllocPtr, void* address) { free(address); }
const ISzAlloc kAlloc = {PlainAlloc, PlainFree};

// The packed bytes of one pack stream, read at their own position in the archive.
class PackSource : public ByteSource {
public:
    PackSource(HANDLE file, ArrivalGate* gate, UInt64 position, UInt64 size)
        : m_file(file), m_gate(gate), m_position(position), m_left(size) {}
    SRes Read(Byte* data, size_t* size) override {
        const DWORD want = DWORD(std::min<UInt64>(std::min<size_t>(*size, 1u << 22), m_left));
        *size = 0;
        if (want == 0) return SZ_OK;
        if (m_gate && !m_gate->WaitFor(m_position, m_position + want)) return SZ_ERROR_READ;
        OVERLAPPED at = {};
        at.Offset = DWORD(m_position);
        at.OffsetHigh = DWORD(m_position >> 32);
        DWORD got = 0;
        if (!ReadFile(m_file, data, want, &got, &at)) return GetLastError() == ERROR_HANDLE_EOF ? SZ_ERROR_INPUT_EOF : SZ_ERROR_READ;
        if (got == 0) return SZ_ERROR_INPUT_EOF;  // the archive ends inside its packed data
        m_position += got;
        m_left -= got;
        *size = got;
        return SZ_OK;
    }

private:
    HANDLE m_file;
    ArrivalGate* m_gate;
    UInt64 m_position, m_left;
};

// A source as the SDK's sequential input stream. Called from C: nothing may be thrown out.
struct SeqInAdapter {
    ISeqInStream vt;
    ByteSource* source;
    static SRes Read(ISeqInStreamPtr p, void* data, size_t* size) {
        try {
            return reinterpret_cast<const SeqInAdapter*>(p)->source->Read(static_cast<Byte*>(data), size);
        } catch (...) {
            *size = 0;
            return SZ_ERROR_READ;
        }
    }
    explicit SeqInAdapter(ByteSource* s) : vt{Read}, source(s) {}
};

// LZMA through LzmaDec; the dictionary is the only large allocation.
class LzmaSource : public ByteSource {
public:
    LzmaSource(std::unique_ptr<ByteSource> input, UInt64 unpackSize)
        : m_input(std::move(input)), m_left(unpackSize), m_buffer(kInputBuffer) {
        LzmaDec_CONSTRUCT(&m_decoder)
    }
    ~LzmaSource() override { LzmaDec_Free(&m_decoder, &kAlloc); }
    SRes Init(const Byte* props, unsigned propsSize) {
        SRes result = LzmaDec_Allocate(&m_decoder, props, propsSize, &kAlloc);
        if (result == SZ_OK) LzmaDec_Init(&m_decoder);
        return result;
    }
    SRes Read(Byte* data, size_t* size) override {
        size_t want = size_t(std::min<UInt64>(*size, m_left));
        *size = 0;
        while (want > 0) {
            SRes result = Refill();
            if (result != SZ_OK) return result;
            SizeT outSize = want, inSize = m_lim - m_pos;
            ELzmaStatus status;
            const ELzmaFinishMode finish = want == m_left ? LZMA_FINISH_END : LZMA_FINISH_ANY;
            result = LzmaDec_DecodeToBuf(&m_decoder, data + *size, &outSize, m_buffer.data() + m_pos, &inSize,
                                         finish, &status);
            if (result != SZ_OK) return result;
            m_pos += inSize;
            *size += outSize;
            want -= outSize;
            m_left -= outSize;
            if (m_left == 0) return ReadEndMark(status);
            if (outSize == 0 && inSize == 0) {
                // No progress: the input ended, or the stream ended before its size.
                if (m_inputEnded || status == LZMA_STATUS_FINISHED_WITH_MARK) return SZ_ERROR_DATA;
            }
            if (*size > 0) break;
        }
        return SZ_OK;
    }

private:
    SRes Refill() {
        if (m_pos < m_lim || m_inputEnded) return SZ_OK;
        size_t got = m_buffer.size();
        SRes result = m_input->Read(m_buffer.data(), &got);
        if (result != SZ_OK) return result;
        m_pos = 0;
        m_lim = got;
        m_inputEnded = got == 0;
        return SZ_OK;
    }
    // After the last byte the decoder may still have the end marker to read, and its bytes can
    // lie beyond the input read so far: it is fed until the stream is finished.
    SRes ReadEndMark(ELzmaStatus status) {
        while (status == LZMA_STATUS_NEEDS_MORE_INPUT) {
            SRes result = Refill();
            if (result != SZ_OK) return result;
            if (m_pos == m_lim) return SZ_ERROR_DATA;  // the input ended inside the marker
            Byte none = 0;
            SizeT outSize = 0, inSize = m_lim - m_pos;
            result = LzmaDec_DecodeToBuf(&m_decoder, &none, &outSize, m_buffer.data() + m_pos, &inSize,
                                         LZMA_FINISH_END, &status);
            if (result != SZ_OK) return result;
            if (inSize == 0) return SZ_ERROR_DATA;
            m_pos += inSize;
        }
        return status == LZMA_STATUS_FINISHED_WITH_MARK || status == LZMA_STATUS_MAYBE_FINISHED_WITHOUT_MARK
                   ? SZ_OK
                   : SZ_ERROR_DATA;
    }

    std::unique_ptr<ByteSource> m_input;
    UInt64 m_left;
    CLzmaDec m_decoder;
    std::vector<Byte> m_buffer;
    size_t m_pos = 0, m_lim = 0;
    bool m_inputEnded = false;
};

// LZMA2 through Lzma2DecMt on a thread of its own, which itself runs several decoding threads
// when the stream holds independent blocks. Its output reaches the reader through a bounded
// queue, so decoding and writing overlap without holding more than the queue.
class Lzma2Source : public ByteSource {
public:
    Lzma2Source(std::unique_ptr<ByteSource> input, UInt64 unpackSize)
        : m_input(std::move(input)), m_adapter(m_input.get()), m_unpackSize(unpackSize), m_queue(kQueueBytes) {
        m_out.vt.Write = &Lzma2Source::Write;
        m_out.self = this;
    }
    ~Lzma2Source() override {
        m_queue.GiveUp();  // the decoder's next write fails and it ends
        if (m_thread.joinable()) m_thread.join();
        if (m_decoder) Lzma2DecMt_Destroy(m_decoder);
    }
    SRes Start(Byte prop) {
        if (prop > 40) return SZ_ERROR_UNSUPPORTED;
        m_decoder = Lzma2DecMt_Create(&kAlloc, &kAlloc);
        if (!m_decoder) return SZ_ERROR_MEM;
        Lzma2DecMtProps_Init(&m_props);
        m_props.numThreads = Lzma2DecoderThreads();
        m_props.outBlockMax = LZMA2_MT_BLOCK_MAX;
        m_props.inBlockMax = LZMA2_MT_BLOCK_MAX + LZMA2_MT_BLOCK_MAX / 16;
        m_prop = prop;
        try {
            m_thread = std::thread([this] { Decode(); });
        } catch (...) {
            return SZ_ERROR_THREAD;
        }
        return SZ_OK;
    }
    SRes Read(Byte* data, size_t* size) override {
        *size = m_queue.Pop(data, *size);
        if (*size > 0) return SZ_OK;
        // Closed and empty: the decoder has ended, and what it wrote before closing is visible.
        if (m_result != SZ_OK) return m_result;
        return m_produced == m_unpackSize ? SZ_OK : SZ_ERROR_DATA;
    }

private:
    struct OutAdapter {
        ISeqOutStream vt;
        Lzma2Source* self;
    };
    // Called from C by the decoder, in order: nothing may be thrown out.
    static size_t Write(ISeqOutStreamPtr p, const void* data, size_t size) {
        Lzma2Source* self = reinterpret_cast<const OutAdapter*>(p)->self;
        if (!self->m_queue.Push(data, size)) return 0;
        self->m_produced += size;
        return size;
    }
    // The decoding thread's entry: no exception leaves it.
    void Decode() {
        SRes result = SZ_ERROR_FAIL;
        try {
            UInt64 inProcessed = 0;
            int isMT = 0;
            result = Lzma2DecMt_Decode(m_decoder, m_prop, &m_props, &m_out.vt, &m_unpackSize, 1, &m_adapter.vt,
                                       &inProcessed, &isMT, nullptr);
            if (isMT) ++g_multiThreadedStreams;
        } catch (...) {
            result = SZ_ERROR_FAIL;
        }
        m_result = result;
        m_queue.Close();
    }

    std::unique_ptr<ByteSource> m_input;
    SeqInAdapter m_adapter;
    UInt64 m_unpackSize;
    CLzma2DecMtHandle m_decoder = nullptr;
    CLzma2DecMtProps m_props;
    Byte m_prop = 0;
    OutAdapter m_out;
    ByteQueue m_queue;
    UInt64 m_produced = 0;  // written by the decoding thread before it closes the queue
    SRes m_result = SZ_OK;  // likewise
    std::thread m_thread;   // last: started when everything it uses exists
};

// Copy: the packed bytes are the unpacked ones, and must be exactly as many.
class CopySource : public ByteSource {
public:
    CopySource(std::unique_ptr<ByteSource> input, UInt64 size) : m_input(std::move(input)), m_left(size) {}
    SRes Read(Byte* data, size_t* size) override {
        *size = size_t(std::min<UInt64>(*size, m_left));
        if (*size == 0) return SZ_OK;
        SRes result = m_input->Read(data, size);
        if (result == SZ_ERROR_INPUT_EOF || (result == SZ_OK && *size == 0)) return SZ_ERROR_DATA;
        m_left -= *size;
        return result;
    }

private:
    std::unique_ptr<ByteSource> m_input;
    UInt64 m_left;
};

// Delta and the branch converters over a stream. A branch converter leaves the last bytes of a
// piece unconverted when an instruction may go on in the next one; they are kept and converted
// with it, and its position counter and (x86) state go on across pieces.
class FilterSource : public ByteSource {
public:
    FilterSource(std::unique_ptr<ByteSource> input, UInt32 method, unsigned delta)
        : m_input(std::move(input)), m_method(method), m_delta(delta), m_buffer(kFilterBuffer) {
        Delta_Init(m_deltaState);
    }
    SRes Read(Byte* data, size_t* size) override {
        while (m_emitted == m_converted) {
            // Keep what is not converted yet, then fill up behind it.
            const size_t tail = m_filled - m_converted;
            memmove(m_buffer.data(), m_buffer.data() + m_converted, tail);
            m_filled = tail;
            m_converted = m_emitted = 0;
            if (m_inputEnded) {
                m_converted = m_filled;  // the last bytes go out as they are
                if (m_filled == 0) {
                    *size = 0;
                    return SZ_OK;
                }
                break;
            }
            size_t got = m_buffer.size() - m_filled;
            SRes result = m_input->Read(m_buffer.data() + m_filled, &got);
            if (result != SZ_OK) return result;
            if (got == 0) {
                m_inputEnded = true;
                continue;
            }
            m_filled += got;
            m_converted = Convert(m_buffer.data(), m_filled);
        }
        const size_t n = std::min(*size, m_converted - m_emitted);
        memcpy(data, m_buffer.data() + m_emitted, n);
        m_emitted += n;
        *size = n;
        return SZ_OK;
    }

private:
    size_t Convert(Byte* data, size_t size) {
        Byte* end = data + size;
        switch (m_method) {
        case kDelta: Delta_Decode(m_deltaState, m_delta, data, size); break;
        case kBcj: end = z7_BranchConvSt_X86_Dec(data, size, m_pc, &m_x86State); break;
        case kPpc: end = Z7_BRANCH_CONV_DEC_2(BranchConv_PPC)(data, size, m_pc); break;
        case kIa64: end = Z7_BRANCH_CONV_DEC(IA64)(data, size, m_pc); break;
        case kSparc: end = Z7_BRANCH_CONV_DEC(SPARC)(data, size, m_pc); break;
        case kArm: end = Z7_BRANCH_CONV_DEC(ARM)(data, size, m_pc); break;
        case kArmt: end = Z7_BRANCH_CONV_DEC(ARMT)(data, size, m_pc); break;
        }
        const size_t done = size_t(end - data);
        m_pc += UInt32(done);
        return done;
    }

    std::unique_ptr<ByteSource> m_input;
    UInt32 m_method;
    unsigned m_delta;
    std::vector<Byte> m_buffer;
    size_t m_filled = 0, m_converted = 0, m_emitted = 0;
    bool m_inputEnded = false;
    UInt32 m_pc = 0;
    UInt32 m_x86State = Z7_BRANCH_CONV_ST_X86_STATE_INIT_VAL;
    Byte m_deltaState[DELTA_STATE_SIZE];
};

// BCJ2 over its four streams (main, call, jump, range coder), each refilled as Bcj2Dec asks.
class Bcj2Source : public ByteSource {
public:
    Bcj2Source(std::unique_ptr<ByteSource> streams[BCJ2_NUM_STREAMS], UInt64 unpackSize) : m_left(unpackSize) {
        for (int s = 0; s < BCJ2_NUM_STREAMS; ++s) {
            m_streams[s] = std::move(streams[s]);
            m_buffers[s].resize(kInputBuffer);
        }
        Bcj2Dec_Init(&m_decoder);
        for (int s = 0; s < BCJ2_NUM_STREAMS; ++s) m_decoder.bufs[s] = m_decoder.lims[s] = m_buffers[s].data();
    }
    SRes Read(Byte* data, size_t* size) override {
        const size_t want = size_t(std::min<UInt64>(*size, m_left));
        *size = 0;
        if (want == 0) return m_left == 0 && !Bcj2Dec_IsMaybeFinished(&m_decoder) ? SZ_ERROR_DATA : SZ_OK;
        m_decoder.dest = data;
        m_decoder.destLim = data + want;
        for (;;) {
            if (Bcj2Dec_Decode(&m_decoder) != SZ_OK) return SZ_ERROR_DATA;
            if (m_decoder.dest == m_decoder.destLim) break;
            const unsigned s = m_decoder.state;
            if (s >= BCJ2_NUM_STREAMS) return SZ_ERROR_DATA;
            SRes result = Refill(s);
            if (result != SZ_OK) return result;
        }
        *size = size_t(m_decoder.dest - data);
        m_left -= *size;
        return SZ_OK;
    }

private:
    // Call and jump addresses come in whole units of four bytes.
    SRes Refill(unsigned s) {
        size_t filled = 0;
        do {
            size_t got = m_buffers[s].size() - filled;
            SRes result = m_streams[s]->Read(m_buffers[s].data() + filled, &got);
            if (result != SZ_OK) return result;
            if (got == 0) break;
            filled += got;
        } while (BCJ2_IS_32BIT_STREAM(s) && (filled & 3) != 0);
        if (filled == 0 || (BCJ2_IS_32BIT_STREAM(s) && (filled & 3) != 0)) return SZ_ERROR_DATA;
        m_decoder.bufs[s] = m_buffers[s].data();
        m_decoder.lims[s] = m_buffers[s].data() + filled;
        return SZ_OK;
    }

    std::unique_ptr<ByteSource> m_streams[BCJ2_NUM_STREAMS];
    std::vector<Byte> m_buffers[BCJ2_NUM_STREAMS];
    CBcj2Dec m_decoder;
    UInt64 m_left;
};

struct FolderLayout {
    HANDLE file;
    ArrivalGate* gate;
    UInt64 dataPos;
    const UInt64* packPositions;  // of this folder's pack streams, one more than their number
    const UInt64* unpackSizes;    // of this folder's coders
    const Byte* props;
};

std::unique_ptr<ByteSource> Pack(const FolderLayout& l, UInt32 index) {
    return std::unique_ptr<ByteSource>(new PackSource(
        l.file, l.gate, l.dataPos + l.packPositions[index], l.packPositions[index + 1] - l.packPositions[index]));
}

// A main coder over pack stream packIndex.
SRes OpenMain(const FolderLayout& l, const CSzCoderInfo& coder, UInt32 packIndex, UInt64 unpackSize,
              std::unique_ptr<ByteSource>& out) {
    std::unique_ptr<ByteSource> input = Pack(l, packIndex);
    const UInt64 packSize = l.packPositions[packIndex + 1] - l.packPositions[packIndex];
    switch (coder.MethodID) {
    case kCopy:
        if (packSize != unpackSize) return SZ_ERROR_DATA;
        out.reset(new CopySource(std::move(input), unpackSize));
        return SZ_OK;
    case kLzma: {
        std::unique_ptr<LzmaSource> lzma(new LzmaSource(std::move(input), unpackSize));
        SRes result = lzma->Init(l.props + coder.PropsOffset, coder.PropsSize);
        if (result != SZ_OK) return result;
        out = std::move(lzma);
        return SZ_OK;
    }
    case kLzma2: {
        if (coder.PropsSize != 1) return SZ_ERROR_DATA;
        std::unique_ptr<Lzma2Source> lzma2(new Lzma2Source(std::move(input), unpackSize));
        SRes result = lzma2->Start(l.props[coder.PropsOffset]);
        if (result != SZ_OK) return result;
        out = std::move(lzma2);
        return SZ_OK;
    }
    default:
        return SZ_ERROR_UNSUPPORTED;
    }
}

}  // namespace

unsigned MultiThreadedLzma2Streams() { return g_multiThreadedStreams.load(); }

unsigned Lzma2DecoderThreads() {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return std::max(1u, std::min(4u, unsigned(info.dwNumberOfProcessors)));
}

SRes OpenFolderStream(const CSzArEx* db, UInt32 folderIndex, HANDLE file, std::unique_ptr<ByteSource>& stream,
                      ArrivalGate* gate) {
    const CSzAr& ar = db->db;
    CSzFolder folder;
    CSzData data;
    data.Data = ar.CodersData + ar.FoCodersOffsets[folderIndex];
    data.Size = ar.FoCodersOffsets[folderIndex + 1] - ar.FoCodersOffsets[folderIndex];
    SRes result = SzGetNextFolderItem(&folder, &data);
    if (result != SZ_OK) return result;
    if (data.Size != 0 || folder.UnpackStream != ar.FoToMainUnpackSizeIndex[folderIndex]) return SZ_ERROR_FAIL;
    if (!IsLauncherArrangement(folder)) return SZ_ERROR_UNSUPPORTED;

    const FolderLayout layout{file, gate, db->dataPos, ar.PackPositions + ar.FoStartPackStreamIndex[folderIndex],
                              ar.CoderUnpackSizes + ar.FoToCoderUnpackSizes[folderIndex],
                              ar.CodersData + ar.FoCodersOffsets[folderIndex]};
    const UInt64 folderSize = SzAr_GetFolderUnpackSize(&ar, folderIndex);

    if (folder.NumCoders == 4) {
        // Coder 0 gives the jump stream, 1 the call stream, 2 the main stream (pack streams 3, 2
        // and 0); pack stream 1 is the range coder's, stored as it is.
        std::unique_ptr<ByteSource> streams[BCJ2_NUM_STREAMS];
        const UInt32 packOf[3] = {3, 2, 0};
        const int streamOf[3] = {BCJ2_STREAM_JUMP, BCJ2_STREAM_CALL, BCJ2_STREAM_MAIN};
        for (int c = 0; c < 3; ++c) {
            result = OpenMain(layout, folder.Coders[c], packOf[c], layout.unpackSizes[c], streams[streamOf[c]]);
            if (result != SZ_OK) return result;
        }
        streams[BCJ2_STREAM_RC] = Pack(layout, 1);
        stream.reset(new Bcj2Source(streams, folderSize));
        return SZ_OK;
    }
    std::unique_ptr<ByteSource> main;
    result = OpenMain(layout, folder.Coders[0], 0, layout.unpackSizes[0], main);
    if (result != SZ_OK) return result;
    if (folder.NumCoders == 1) {
        stream = std::move(main);
        return SZ_OK;
    }
    const CSzCoderInfo& filter = folder.Coders[1];
    const unsigned delta = filter.MethodID == kDelta ? unsigned(layout.props[filter.PropsOffset]) + 1 : 0;
    stream.reset(new FilterSource(std::move(main), filter.MethodID, delta));
    return SZ_OK;
}
