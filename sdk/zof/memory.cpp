// zof memory: reallocation primitive, size arithmetic, aligned blocks.
#include "zof/memory.h"

#include <atomic>
#include <cstdlib>
#if defined(_WIN32)
#  include <malloc.h>
#else
#  include <malloc.h>
#endif

namespace zof {

namespace {
void* default_realloc(void* block, std::size_t n) { return std::realloc(block, n); }
std::atomic<realloc_function> g_realloc{&default_realloc};
} // namespace

void throw_bad_alloc() { throw exception_bad_alloc(); }

realloc_function set_realloc_function(realloc_function fn) {
    return g_realloc.exchange(fn ? fn : &default_realloc);
}

void* raw_realloc(void* block, t_size n) {
    if (n == 0) {
        std::free(block);
        return nullptr;
    }
    void* result = g_realloc.load()(block, n);
    if (result == nullptr) throw_bad_alloc();
    return result;
}

t_size multiply_size(t_size count, t_size element_size) {
    const std::uint64_t wide = std::uint64_t(count) * element_size;
    if (wide > 0xFFFFFFFFu) throw_bad_alloc();
    return static_cast<t_size>(wide);
}

t_size add_size(t_size a, t_size b) {
    const t_size sum = a + b;
    if (sum < a) throw_bad_alloc();
    return sum;
}

void* alloc_or_throw(t_size n) {
    if (n == 0) return nullptr;
    return raw_realloc(nullptr, n);
}

void check_non_null(const void* pointer) {
    if (pointer == nullptr) throw_bad_alloc();
}

bool try_resize_in_place(void* block, t_size n) {
    if (block == nullptr) return n == 0;
    if (n == 0) return false;
#if defined(_WIN32)
    return _expand(block, n) != nullptr;
#else
    // glibc grows nothing in place on request; a block that already has
    // the room is a success.
    return n <= malloc_usable_size(block);
#endif
}

// Aligned blocks: the heap block is over-allocated and the address of its
// start is kept in the word just below the aligned data.
namespace {
void* aligned_base(void* data) { return static_cast<void**>(data)[-1]; }
} // namespace

void* aligned_realloc(void* block, t_size old_bytes, t_size new_bytes, t_size alignment) {
    const t_size extra = add_size(alignment - 1, static_cast<t_size>(sizeof(void*)));
    const t_size total = add_size(new_bytes, extra);
    void* base = g_realloc.load()(nullptr, total);
    if (base == nullptr) throw_bad_alloc();
    const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(base) + sizeof(void*);
    const std::uintptr_t aligned = (start + alignment - 1) & ~std::uintptr_t(alignment - 1);
    void* data = reinterpret_cast<void*>(aligned);
    static_cast<void**>(data)[-1] = base;
    if (block != nullptr) {
        std::memcpy(data, block, old_bytes < new_bytes ? old_bytes : new_bytes);
        std::free(aligned_base(block));
    }
    return data;
}

void aligned_free(void* block) {
    if (block != nullptr) std::free(aligned_base(block));
}

} // namespace zof
