#include "bit_packer.h"

void BitPacker::pack(const Fields& fields, std::vector<std::uint8_t>& out)
{
    std::uint32_t partial = 0;
    int free_bits = 8;
    for (const auto& field : fields) {
        std::uint32_t value = field.first;
        int remaining = field.second;
        while (remaining > 0) {
            if (remaining >= free_bits) {
                remaining -= free_bits;
                partial |= (value >> remaining) & ((1u << free_bits) - 1);
                out.push_back(static_cast<std::uint8_t>(partial));
                partial = 0;
                free_bits = 8;
            } else {
                free_bits -= remaining;
                partial |= (value & ((1u << remaining) - 1)) << free_bits;
                remaining = 0;
            }
        }
    }
    if (free_bits < 8)
        out.push_back(static_cast<std::uint8_t>(partial));
}
