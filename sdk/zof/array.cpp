// zof arrays: the fast sizing rule.
#include "zof/array.h"

namespace zof {

t_size fast_capacity(t_size capacity, t_size count) {
    t_size target = capacity != 0 ? capacity : 1;
    while (target < count) {
        if (target > infinite_size / 2) throw_bad_alloc();
        target *= 2;
    }
    while (target / 4 > count) target /= 2;
    return target;
}

} // namespace zof
