#ifndef TARVEN_ARRAY2D_H
#define TARVEN_ARRAY2D_H

#include <utility>

#include "array1d.h"

// A two-dimensional array stored column by column: element (x, y) is
// data[x][y]. Both indices are checked when going through operator[] or set.
template <class T>
class Array2d {
public:
    Array2d(int xs, int ys, const T& def) { create(xs, ys, def); }
    // Every element zero; for callers that overwrite every element anyway.
    Array2d(int xs, int ys) { create(xs, ys); }
    ~Array2d() { destroy(); }

    Array1d<T>& operator[](int index) { return data[index]; }
    const Array1d<T>& operator[](int index) const { return data[index]; }

    void set(int x, int y, T val) { data[x][y] = val; }

    // Keeps every element when the size is unchanged; otherwise every
    // element becomes def.
    void resize(int x, int y, const T& def) {
        if (x == xsize && y == ysize) return;
        destroy();
        create(x, y, def);
    }

    int xs() const { return xsize; }
    int ys() const { return ysize; }

    // Unchecked element access for callers that have checked (x, y) against
    // xs() and ys() already.
    T& get(int x, int y) { return data.ptr()[x].ptr()[y]; }
    const T& get(int x, int y) const { return data.ptr()[x].ptr()[y]; }

    void swap(Array2d& o) noexcept {
        data.swap(o.data);
        std::swap(xsize, o.xsize);
        std::swap(ysize, o.ysize);
    }

protected:
    // Negative sizes are taken as 0.
    void create(int xs, int ys) {
        if (xs < 0) xs = 0;
        if (ys < 0) ys = 0;
        data.resize(xs);
        for (int x = 0; x < xs; ++x) data[x].resize(ys);
        xsize = xs;
        ysize = ys;
    }

    void create(int xs, int ys, const T& def) {
        create(xs, ys);
        for (int x = 0; x < xsize; ++x) {
            T* col = data[x].ptr();
            for (int y = 0; y < ysize; ++y) col[y] = def;
        }
    }

    // The columns are released by the column array's resize and destructor.
    void destroy() {}

    Array1d<Array1d<T>> data;
    int xsize = 0;
    int ysize = 0;
};

#endif
