// One independently decodable piece of an LZMA2 stream (from a dictionary reset up to the next
// one) decoded on its own with the SDK's Lzma2Dec, in bounded memory: the dictionary and two
// small buffers, however large the piece. The release tool and the launcher both decode pieces
// with it. No Windows calls in here.
#pragma once

#include <cstdint>
#include <functional>

extern "C" {
#include "7zTypes.h"
}

// Gives up to size bytes of the piece's packed bytes (in order); false for a read that failed.
using PieceInput = std::function<bool(uint8_t* data, size_t size)>;
// Takes the next decoded bytes; false stops the decoding (SZ_ERROR_WRITE).
using PieceOutput = std::function<bool(const uint8_t* data, size_t size)>;

// Decodes packLength packed bytes into exactly unpackLength bytes. SZ_OK, SZ_ERROR_MEM for a
// dictionary that cannot be had, SZ_ERROR_READ / SZ_ERROR_WRITE from the callbacks, or
// SZ_ERROR_DATA when the bytes do not decode to exactly that length (a stream end marker after
// them is allowed, nothing else). Never throws.
SRes DecodeLzma2Piece(int property, uint64_t packLength, uint64_t unpackLength, const PieceInput& input,
                      const PieceOutput& output);
