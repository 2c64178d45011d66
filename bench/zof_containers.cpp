// Sorting and growth costs of the foundation library against the standard
// library: quicksort, stable sort, permutation, item-by-item appends.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <numeric>
#include <random>
#include <vector>

#include "zof/zof.h"

namespace {

using clock_type = std::chrono::steady_clock;

double ms_since(clock_type::time_point start) {
    return std::chrono::duration<double, std::milli>(clock_type::now() - start).count();
}

class int_callback : public zof::sort_callback {
public:
    explicit int_callback(std::vector<int>& v) : v(v) {}
    int compare(zof::t_size i, zof::t_size j) override { return v[i] < v[j] ? -1 : (v[i] > v[j] ? 1 : 0); }
    void swap(zof::t_size i, zof::t_size j) override { std::swap(v[i], v[j]); }
    std::vector<int>& v;
};

class int_reorder : public zof::reorder_callback {
public:
    explicit int_reorder(std::vector<int>& v) : v(v) {}
    void swap(zof::t_size i, zof::t_size j) override { std::swap(v[i], v[j]); }
    std::vector<int>& v;
};

void bench_sorts(std::size_t n, int distinct) {
    std::mt19937 rng(1);
    std::uniform_int_distribution<int> key(0, distinct - 1);
    std::vector<int> base(n);
    for (int& x : base) x = key(rng);

    auto a = base;
    auto t = clock_type::now();
    std::sort(a.begin(), a.end());
    const double std_ms = ms_since(t);

    auto b = base;
    int_callback cb(b);
    t = clock_type::now();
    zof::sort(cb, static_cast<zof::t_size>(n));
    const double zof_ms = ms_since(t);

    auto c = base;
    int_callback cs(c);
    t = clock_type::now();
    zof::sort_stable(cs, static_cast<zof::t_size>(n));
    const double stable_ms = ms_since(t);

    std::printf("sort %8zu items, %10d keys: std::sort %7.1f ms, zof::sort %7.1f ms, zof::sort_stable %7.1f ms%s\n", n,
                distinct, std_ms, zof_ms, stable_ms, (a == b && a == c) ? "" : "  MISMATCH");
}

void bench_reorder(std::size_t n) {
    std::vector<zof::t_size> order(n);
    std::iota(order.begin(), order.end(), 0u);
    std::shuffle(order.begin(), order.end(), std::mt19937(2));
    std::vector<int> items(n);
    std::iota(items.begin(), items.end(), 0);
    int_reorder cb(items);
    const auto t = clock_type::now();
    zof::reorder(cb, order.data(), static_cast<zof::t_size>(n));
    std::printf("reorder %8zu items: %7.1f ms\n", n, ms_since(t));
}

void bench_appends(std::size_t n) {
    auto t = clock_type::now();
    zof::array_t<int> a;
    for (std::size_t i = 0; i < n; ++i) a.append(static_cast<int>(i));
    const double array_ms = ms_since(t);
    t = clock_type::now();
    zof::string8 s;
    for (std::size_t i = 0; i < n; ++i) s.append("x", 1);
    const double string_ms = ms_since(t);
    t = clock_type::now();
    zof::string8_doubling d;
    for (std::size_t i = 0; i < n; ++i) d.append("x", 1);
    const double doubling_ms = ms_since(t);
    std::printf("append %8zu items: array_t %7.1f ms, string8 %7.1f ms, string8_doubling %7.1f ms\n", n, array_ms,
                string_ms, doubling_ms);
}

} // namespace

int main() {
    for (int distinct : {2, 1000, 1 << 30}) bench_sorts(1000000, distinct);
    bench_reorder(1000000);
    bench_appends(1000000);
    return 0;
}
