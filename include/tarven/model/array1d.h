#ifndef TARVEN_ARRAY1D_H
#define TARVEN_ARRAY1D_H

#include <cstdio>
#include <cstdlib>
#include <utility>

namespace tarven_detail {
// Kept out of line so that the checked operator[] stays a compare and a load.
[[noreturn]] inline void arrayIndexFailure(int index, int si) {
    std::fprintf(stderr, "Error in array limits: %d is out of bounds (%d-%d legal range)!\n",
                 index, 0, si - 1);
    std::exit(1);
}
}  // namespace tarven_detail

// A one-dimensional array owning its elements. Every index is checked: an
// index outside 0..s()-1 is an internal error that ends the program.
template <class T>
class Array1d {
public:
    Array1d(int s = 0) { create(s); }
    Array1d(const Array1d& a) { copy(a); }
    ~Array1d() { destroy(); }

    Array1d& operator=(const Array1d& a) {
        if (this != &a) {
            destroy();
            copy(a);
        }
        return *this;
    }

    T& operator[](int index) {
        if (index < 0 || index >= si) tarven_detail::arrayIndexFailure(index, si);
        return data[index];
    }
    const T& operator[](int index) const {
        if (index < 0 || index >= si) tarven_detail::arrayIndexFailure(index, si);
        return data[index];
    }

    int s() const { return si; }

    // Drops the old elements; the new ones are zero.
    void resize(int msi) {
        destroy();
        create(msi);
    }

    // Expects the old storage to be released already (operator= and the
    // copy constructor see to that).
    void copy(const Array1d& b) {
        create(b.si);
        for (int i = 0; i < si; ++i) data[i] = b.data[i];
    }

    // Unchecked access to the elements, for callers that have checked the
    // index themselves; null for an empty array.
    T* ptr() { return data; }
    const T* ptr() const { return data; }

    void swap(Array1d& o) noexcept {
        std::swap(data, o.data);
        std::swap(si, o.si);
    }

protected:
    // A negative count is taken as 0: an empty array holds no storage.
    void create(int msi) {
        if (msi < 0) msi = 0;
        si = msi;
        data = msi != 0 ? new T[msi]() : nullptr;
    }

    virtual void destroy() {
        if (si != 0 && data) delete[] data;
        data = nullptr;
    }

    T* data = nullptr;
    int si = 0;
};

#endif
