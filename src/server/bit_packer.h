#pragma once
// Packs fields of given bit widths into bytes, most significant bit first:
// the header of every SHOUTcast v2 packet.
#include <cstdint>
#include <utility>
#include <vector>

class BitPacker {
public:
    // (value, width in bits); bits of the value above its width must be
    // zero.
    using Fields = std::vector<std::pair<std::uint32_t, int>>;

    // Appends the packed fields to `out`; a last byte that the widths do
    // not fill keeps its low bits zero.
    static void pack(const Fields& fields, std::vector<std::uint8_t>& out);
};
