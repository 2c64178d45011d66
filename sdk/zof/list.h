#pragma once
// zof lists: the list interfaces, their implementation over an array, and
// the adapters between lists and the sorting engine.
#include <utility>

#include "zof/array.h"
#include "zof/bit_array.h"
#include "zof/sort.h"

namespace zof {

template <typename T>
class list_base_const_t {
public:
    virtual t_size get_count() const = 0;
    // Copies item `index` into `out` (releasing what `out` held).
    virtual void get_item(T& out, t_size index) const = 0;

    T get_item(t_size index) const {
        T item{};
        get_item(item, index);
        return item;
    }

protected:
    ~list_base_const_t() = default;
};

template <typename T>
class list_base_t : public list_base_const_t<T> {
public:
    using list_base_const_t<T>::get_item;

    // Orders two items: negative, zero or positive.
    class compare_callback {
    public:
        virtual int compare(const T& a, const T& b) = 0;

    protected:
        ~compare_callback() = default;
    };

    // Keeps exactly the items whose mask bit is true, in their order.
    virtual void filter_mask(const bit_array& mask) = 0;
    // Inserts every item of `source` at `index` (clamped to the count);
    // gives the index used.
    virtual t_size insert_items(const list_base_const_t<T>& source, t_size index) = 0;
    // Puts item base + order[i] at base + i, for i below count.
    virtual void reorder_partial(t_size base, const t_size* order, t_size count) = 0;
    virtual void sort(compare_callback& compare) = 0;
    virtual void sort_stable(compare_callback& compare) = 0;
    // Stores a copy of `item` at `index`, releasing the old one.
    virtual void replace_item(t_size index, const T& item) = 0;
    // Exchanges item `index` with `storage`; no copy is made.
    virtual void swap_item_with(t_size index, T& storage) = 0;
    virtual void swap_items(t_size i, t_size j) = 0;

    // Sorts with a function object taking two items.
    template <typename Compare>
    void sort_t(Compare compare, bool stable = false) {
        struct wrap final : compare_callback {
            explicit wrap(Compare& c) : c(c) {}
            int compare(const T& a, const T& b) override { return c(a, b); }
            Compare& c;
        } w(compare);
        if (stable) sort_stable(w);
        else sort(w);
    }

protected:
    ~list_base_t() = default;
};

// Sorts the items of an array with a list's compare callback.
template <typename Array, typename T>
class sort_callback_impl_simple_wrap_t final : public sort_callback {
public:
    sort_callback_impl_simple_wrap_t(Array& items, typename list_base_t<T>::compare_callback& compare)
        : m_items(items), m_compare(compare) {}
    int compare(t_size i, t_size j) override { return m_compare.compare(m_items[i], m_items[j]); }
    void swap(t_size i, t_size j) override {
        using std::swap;
        swap(m_items[i], m_items[j]);
    }

private:
    Array& m_items;
    typename list_base_t<T>::compare_callback& m_compare;
};

// Swaps two items of an array.
template <typename Array>
class reorder_callback_impl_t final : public reorder_callback {
public:
    explicit reorder_callback_impl_t(Array& items) : m_items(items) {}
    void swap(t_size i, t_size j) override {
        using std::swap;
        swap(m_items[i], m_items[j]);
    }

private:
    Array& m_items;
};

template <typename T, typename Array>
class list_impl_t : public list_base_t<T> {
public:
    using list_base_t<T>::get_item;

    list_impl_t() = default;
    list_impl_t(const list_impl_t&) = default;
    list_impl_t& operator=(const list_impl_t&) = default;
    virtual ~list_impl_t() = default;

    t_size get_count() const override { return m_items.get_size(); }
    void get_item(T& out, t_size index) const override { out = m_items[index]; }

    void filter_mask(const bit_array& mask) override {
        const t_size n = m_items.get_size();
        t_size hole = mask.find(false, 0, n);
        if (hole >= n) return;
        for (t_size i = mask.find(true, hole + 1, std::int64_t(n) - hole - 1); i < n;
             i = mask.find(true, i + 1, std::int64_t(n) - i - 1)) {
            using std::swap;
            swap(m_items[hole], m_items[i]);
            ++hole;
        }
        m_items.set_size(hole);
    }

    t_size insert_items(const list_base_const_t<T>& source, t_size index) override {
        if (&source == static_cast<const list_base_const_t<T>*>(this)) {
            const list_impl_t copy(*this); // inserting a list into itself
            return insert_items(copy, index);
        }
        const t_size n = source.get_count();
        const t_size c = m_items.get_size();
        if (index > c) index = c;
        m_items.set_size(add_size(c, n));
        using std::swap;
        for (t_size i = c; i > index; --i) swap(m_items[i - 1], m_items[i - 1 + n]);
        for (t_size k = 0; k < n; ++k) source.get_item(m_items[index + k], k);
        return index;
    }

    void reorder_partial(t_size base, const t_size* order, t_size count) override {
        reorder_callback_impl_t<Array> items(m_items);
        reorder_callback_impl_delta delta(items, base);
        reorder(delta, order, count);
    }

    void sort(typename list_base_t<T>::compare_callback& compare) override {
        sort_callback_impl_simple_wrap_t<Array, T> cb(m_items, compare);
        zof::sort(cb, m_items.get_size());
    }
    void sort_stable(typename list_base_t<T>::compare_callback& compare) override {
        sort_callback_impl_simple_wrap_t<Array, T> cb(m_items, compare);
        zof::sort_stable(cb, m_items.get_size());
    }

    // Copy first, then replace: the item may be held only by this slot.
    void replace_item(t_size index, const T& item) override {
        T copy(item);
        using std::swap;
        swap(m_items[index], copy);
    }
    void swap_item_with(t_size index, T& storage) override {
        using std::swap;
        swap(m_items[index], storage);
    }
    void swap_items(t_size i, t_size j) override {
        using std::swap;
        swap(m_items[i], m_items[j]);
    }

    // Conveniences.
    t_size get_size() const { return m_items.get_size(); }
    T& operator[](t_size i) { return m_items[i]; }
    const T& operator[](t_size i) const { return m_items[i]; }
    t_size add_item(const T& item) { return m_items.append(item); }
    void remove_all() { m_items.set_size(0); }
    void remove_by_idx(t_size index) {
        const t_size n = m_items.get_size();
        if (index >= n) return;
        using std::swap;
        for (t_size i = index; i + 1 < n; ++i) swap(m_items[i], m_items[i + 1]);
        m_items.set_size(n - 1);
    }
    const Array& items() const { return m_items; }

private:
    Array m_items;
};

template <typename T, typename Alloc = alloc_fast>
class list_t : public list_impl_t<T, array_t<T, Alloc>> {};

// A list of owned heap objects: removing an entry deletes its object, and
// the destructor deletes every object before emptying the list.
template <typename T, typename Base = list_t<T*, alloc_fast>>
class ptr_list_t : public Base {
public:
    ptr_list_t() = default;
    ptr_list_t(const ptr_list_t&) = delete;
    ptr_list_t& operator=(const ptr_list_t&) = delete;
    ~ptr_list_t() { delete_all(); }

    void delete_all() {
        for (t_size i = 0; i < this->get_size(); ++i) delete (*this)[i];
        this->remove_all();
    }
    void delete_by_idx(t_size index) {
        if (index >= this->get_size()) return;
        delete (*this)[index];
        this->remove_by_idx(index);
    }
    // Deletes the objects whose bit is set and drops their entries.
    void delete_mask(const bit_array& mask) {
        const t_size n = this->get_size();
        for (t_size i = mask.find(true, 0, n); i < n; i = mask.find(true, i + 1, std::int64_t(n) - i - 1)) {
            delete (*this)[i];
            (*this)[i] = nullptr;
        }
        struct keep_clear final : bit_array {
            explicit keep_clear(const bit_array& m) : m(m) {}
            bool get(t_size k) const override { return !m.get(k); }
            const bit_array& m;
        } keep(mask);
        this->filter_mask(keep);
    }
};

} // namespace zof
