#include "rules/Lzma2Piece.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

extern "C" {
#include "Lzma2Dec.h"
}

namespace {

void* PlainAlloc(ISzAllocPtr, size_t size) { return size ? malloc(size) : nullptr; }
void PlainFree(ISzAllocPtr, void* address) { free(address); }
const ISzAlloc kAlloc = {PlainAlloc, PlainFree};

constexpr size_t kInputPiece = 1 << 18;
constexpr size_t kOutputPiece = 1 << 20;

class Lzma2Decoder {
public:
    Lzma2Decoder() { Lzma2Dec_CONSTRUCT(&m_decoder) }
    ~Lzma2Decoder() { Lzma2Dec_Free(&m_decoder, &kAlloc); }
    Lzma2Decoder(const Lzma2Decoder&) = delete;
    Lzma2Decoder& operator=(const Lzma2Decoder&) = delete;
    CLzma2Dec* Get() { return &m_decoder; }

private:
    CLzma2Dec m_decoder;
};

SRes Decode(int property, uint64_t packLength, uint64_t unpackLength, const PieceInput& input,
            const PieceOutput& output) {
    if (property < 0 || property > 40) return SZ_ERROR_UNSUPPORTED;
    Lzma2Decoder decoder;
    const SRes allocated = Lzma2Dec_Allocate(decoder.Get(), Byte(property), &kAlloc);
    if (allocated != SZ_OK) return allocated;
    Lzma2Dec_Init(decoder.Get());
    std::vector<uint8_t> in(kInputPiece), out(kOutputPiece);
    size_t inPos = 0, inSize = 0;
    uint64_t packLeft = packLength, unpackLeft = unpackLength;
    while (unpackLeft > 0) {
        if (inPos == inSize && packLeft > 0) {
            inSize = size_t(std::min<uint64_t>(packLeft, in.size()));
            if (!input(in.data(), inSize)) return SZ_ERROR_READ;
            packLeft -= inSize;
            inPos = 0;
        }
        SizeT outSize = SizeT(std::min<uint64_t>(unpackLeft, out.size()));
        SizeT inUsed = inSize - inPos;
        ELzmaStatus status;
        const SRes result = Lzma2Dec_DecodeToBuf(decoder.Get(), out.data(), &outSize, in.data() + inPos, &inUsed,
                                                 LZMA_FINISH_ANY, &status);
        if (result != SZ_OK) return result;
        inPos += inUsed;
        if (outSize == 0 && inUsed == 0) return SZ_ERROR_DATA;  // no progress: the bytes end too soon
        if (outSize > 0 && !output(out.data(), outSize)) return SZ_ERROR_WRITE;
        unpackLeft -= outSize;
        if (status == LZMA_STATUS_FINISHED_WITH_MARK && unpackLeft > 0) return SZ_ERROR_DATA;
    }
    // What is left of the packed bytes may be the stream's end marker, nothing more.
    size_t rest = inSize - inPos;
    if (packLeft > 1 || rest + packLeft > 1) return SZ_ERROR_DATA;
    uint8_t last = rest ? in[inPos] : 0;
    if (packLeft == 1 && !input(&last, 1)) return SZ_ERROR_READ;
    return last == 0 ? SZ_OK : SZ_ERROR_DATA;
}

}  // namespace

SRes DecodeLzma2Piece(int property, uint64_t packLength, uint64_t unpackLength, const PieceInput& input,
                      const PieceOutput& output) {
    try {
        return Decode(property, packLength, unpackLength, input, output);
    } catch (...) {
        return SZ_ERROR_MEM;
    }
}
