#ifndef TARVEN_ARRAY2D_H
#define TARVEN_ARRAY2D_H

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <type_traits>
#include <utility>

#include <sys/mman.h>

#include "array1d.h"

namespace tarven_detail {

// A zeroed block of memory that owns itself. Large blocks are mapped
// straight from the kernel at a 2 MiB boundary and marked for huge pages:
// filling a map of hundreds of megabytes then takes a few hundred page
// faults instead of tens of thousands, and nothing is written twice. Small
// blocks come from calloc, and so does every block under the address
// sanitizer, which then guards the ends of every grid (and sees any
// allocation limit a test sets).
#if defined(__SANITIZE_ADDRESS__)
#define TARVEN_ZEROBLOCK_MAP 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TARVEN_ZEROBLOCK_MAP 0
#endif
#endif
#ifndef TARVEN_ZEROBLOCK_MAP
#define TARVEN_ZEROBLOCK_MAP 1
#endif

class ZeroBlock {
public:
    static constexpr std::size_t kHuge = std::size_t(2) << 20;
    static constexpr std::size_t kMapFrom = TARVEN_ZEROBLOCK_MAP ? 2 * kHuge : SIZE_MAX;

    ZeroBlock() = default;
    explicit ZeroBlock(std::size_t n) : n_(n) {
        if (n == 0) return;
        if (n < kMapFrom) {
            p_ = std::calloc(n, 1);
            if (!p_) throw std::bad_alloc();
            return;
        }
        if (n > SIZE_MAX - kHuge) throw std::bad_alloc();
        const std::size_t span = n + kHuge;
        void* m = ::mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (m == MAP_FAILED) throw std::bad_alloc();
        char* const base = static_cast<char*>(m);
        const std::size_t head = (kHuge - reinterpret_cast<std::uintptr_t>(base) % kHuge) % kHuge;
        if (head != 0) ::munmap(base, head);
        const std::size_t mapped = (n + 4095) & ~std::size_t(4095);
        if (span - head > mapped) ::munmap(base + head + mapped, span - head - mapped);
        p_ = base + head;
#ifdef MADV_HUGEPAGE
        ::madvise(p_, mapped, MADV_HUGEPAGE);
#endif
    }
    ZeroBlock(const ZeroBlock&) = delete;
    ZeroBlock& operator=(const ZeroBlock&) = delete;
    ZeroBlock(ZeroBlock&& o) noexcept { swap(o); }
    ZeroBlock& operator=(ZeroBlock&& o) noexcept {
        ZeroBlock(std::move(o)).swap(*this);
        return *this;
    }
    ~ZeroBlock() {
        if (!p_) return;
        if (n_ < kMapFrom) std::free(p_);
        else ::munmap(p_, (n_ + 4095) & ~std::size_t(4095));
    }

    void* get() const { return p_; }
    std::size_t size() const { return n_; }
    void swap(ZeroBlock& o) noexcept {
        std::swap(p_, o.p_);
        std::swap(n_, o.n_);
    }

private:
    void* p_ = nullptr;
    std::size_t n_ = 0;
};

}  // namespace tarven_detail

// A two-dimensional array of plain values kept in one block, row by row:
// element (x, y) sits at index y * xs() + x, so a row of the grid is xs()
// neighbouring elements and a whole grid costs its elements and nothing per
// row or column. Element (x, y) is reached as a[x][y] through a small column
// proxy; both indices are checked there and in set.
template <class T>
class Array2d {
    static_assert(std::is_trivially_copyable<T>::value && std::is_trivially_default_constructible<T>::value,
                  "Array2d holds plain values");

public:
    // One column of the grid, as a[x] gives it: checks y and reaches (x, y).
    template <class Grid, class Ref>
    class ColumnOf {
    public:
        ColumnOf(Grid& g, int x) : g_(g), x_(x) {}
        Ref operator[](int y) const {
            if (y < 0 || y >= g_.ysize) tarven_detail::arrayIndexFailure(y, g_.ysize);
            return g_.cells()[static_cast<std::size_t>(y) * static_cast<std::size_t>(g_.xsize) + static_cast<std::size_t>(x_)];
        }
        int s() const { return g_.ysize; }

    private:
        Grid& g_;
        int x_;
    };
    using Column = ColumnOf<Array2d, T&>;
    using ConstColumn = ColumnOf<const Array2d, const T&>;

    Array2d(int xs, int ys, const T& def) { create(xs, ys, def); }
    // Every element zero; for callers that overwrite every element anyway.
    Array2d(int xs, int ys) { create(xs, ys); }
    Array2d(const Array2d& a) { copy(a); }
    Array2d& operator=(const Array2d& a) {
        if (this != &a) {
            Array2d b(a);
            swap(b);
        }
        return *this;
    }

    Column operator[](int x) {
        if (x < 0 || x >= xsize) tarven_detail::arrayIndexFailure(x, xsize);
        return Column(*this, x);
    }
    ConstColumn operator[](int x) const {
        if (x < 0 || x >= xsize) tarven_detail::arrayIndexFailure(x, xsize);
        return ConstColumn(*this, x);
    }

    void set(int x, int y, T val) { (*this)[x][y] = val; }

    // The xs() neighbouring elements of row y; y is checked. Null when the
    // grid has no columns.
    T* row(int y) {
        if (y < 0 || y >= ysize) tarven_detail::arrayIndexFailure(y, ysize);
        return cells() + static_cast<std::size_t>(y) * static_cast<std::size_t>(xsize);
    }
    const T* row(int y) const {
        if (y < 0 || y >= ysize) tarven_detail::arrayIndexFailure(y, ysize);
        return cells() + static_cast<std::size_t>(y) * static_cast<std::size_t>(xsize);
    }

    // Keeps every element when the size is unchanged; otherwise every
    // element becomes def.
    void resize(int x, int y, const T& def) {
        if (x == xsize && y == ysize) return;
        Array2d b(x, y, def);
        swap(b);
    }

    int xs() const { return xsize; }
    int ys() const { return ysize; }

    // Unchecked element access for callers that have checked (x, y) against
    // xs() and ys() already.
    T& get(int x, int y) { return cells()[index(x, y)]; }
    const T& get(int x, int y) const { return cells()[index(x, y)]; }

    void swap(Array2d& o) noexcept {
        block_.swap(o.block_);
        std::swap(xsize, o.xsize);
        std::swap(ysize, o.ysize);
    }

private:
    T* cells() const { return static_cast<T*>(block_.get()); }

    std::size_t index(int x, int y) const {
        return static_cast<std::size_t>(y) * static_cast<std::size_t>(xsize) + static_cast<std::size_t>(x);
    }

    // Negative sizes are taken as 0. The block starts as zero pages that
    // nobody has written, so a grid about to be overwritten is written once.
    void create(int xs, int ys) {
        if (xs < 0) xs = 0;
        if (ys < 0) ys = 0;
        const std::size_t n = static_cast<std::size_t>(xs) * static_cast<std::size_t>(ys);
        if (n > SIZE_MAX / sizeof(T)) throw std::bad_alloc();
        tarven_detail::ZeroBlock(n * sizeof(T)).swap(block_);
        xsize = xs;
        ysize = ys;
    }

    void create(int xs, int ys, const T& def) {
        create(xs, ys);
        const std::size_t n = static_cast<std::size_t>(xsize) * static_cast<std::size_t>(ysize);
        T* p = cells();
        if (sizeof(T) == 1) {
            unsigned char b;
            std::memcpy(&b, &def, 1);
            if (b != 0 && n != 0) std::memset(p, b, n);
        } else {
            for (std::size_t i = 0; i < n; ++i) p[i] = def;
        }
    }

    void copy(const Array2d& a) {
        create(a.xsize, a.ysize);
        if (a.cells()) std::memcpy(cells(), a.cells(), sizeof(T) * static_cast<std::size_t>(xsize) * ysize);
    }

    tarven_detail::ZeroBlock block_;
    int xsize = 0;
    int ysize = 0;
};

#endif
