// zof bit masks.
#include "zof/bit_array.h"

#include <cstring>

namespace zof {

t_size bit_array::find(bool value, t_size start, std::int64_t count) const {
    const std::int64_t step = count < 0 ? -1 : 1;
    std::int64_t position = start;
    for (std::int64_t left = count < 0 ? -count : count; left > 0; --left, position += step) {
        if (position < 0 || position > std::int64_t(0xFFFFFFFFu)) break;
        if (get(static_cast<t_size>(position)) == value) return static_cast<t_size>(position);
    }
    return static_cast<t_size>(std::int64_t(start) + count);
}

void bit_array_bittable::resize(t_size size) {
    const t_size old_bytes = (m_size >> 3) + ((m_size & 7) != 0);
    const t_size bytes = (size >> 3) + ((size & 7) != 0);
    if (bytes != old_bytes) realloc_bytes(m_bits, bytes);
    if (bytes > old_bytes) std::memset(m_bits + old_bytes, 0, bytes - old_bytes);
    // Clear the bits of the last byte that lie beyond the old size.
    for (t_size n = m_size; n < size && (n & 7) != 0; ++n) m_bits[n >> 3] &= static_cast<unsigned char>(~(1u << (n & 7)));
    m_size = size;
}

} // namespace zof
