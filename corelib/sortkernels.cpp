// The Shell-sort kernels. One driver walks the gaps and the insertion passes;
// each kernel supplies how to take out, compare, shift and put back an element
// together with whatever companions travel with it.
#include <cmath>
#include <cstddef>

#include "corelib/corelib.h"

namespace {

// Items provides: Held Take(i); bool Moves(j, held) (the element at j must move
// up past the held one); void Shift(from, to); void Put(i, held).
template <class Items>
void RunShellSort(Items& items, int count) {
  if (count < 2) return;
  // 64-bit so that the gap just past a count near INT_MAX does not overflow.
  int64_t gap = 1;
  while (gap < count) gap = 3 * gap + 1;
  do {
    gap /= 3;
    const int h = static_cast<int>(gap);
    for (int i = h; i < count; ++i) {
      auto held = items.Take(i);
      int j = i;
      while (j >= h && items.Moves(j - h, held)) {
        items.Shift(j - h, j);
        j -= h;
      }
      items.Put(j, held);
    }
  } while (gap > 1);
}

inline ptrdiff_t At(int i, int stride) { return static_cast<ptrdiff_t>(i) * stride; }

struct Doubles {
  double* data;
  int stride;
  bool descending;

  double Take(int i) const { return data[At(i, stride)]; }
  bool Moves(int j, double f) const {
    const double h = data[At(j, stride)];
    return descending ? (h < f || std::isunordered(h, f)) : h > f;
  }
  void Shift(int from, int to) const { data[At(to, stride)] = data[At(from, stride)]; }
  void Put(int i, double f) const { data[At(i, stride)] = f; }
};

struct Ints {
  int32_t* values;

  int32_t Take(int i) const { return values[i]; }
  bool Moves(int j, int32_t f) const { return values[j] > f; }
  void Shift(int from, int to) const { values[to] = values[from]; }
  void Put(int i, int32_t f) const { values[i] = f; }
};

struct IntPair {
  int32_t key;
  int32_t companion;
};

struct IntPairs {
  int32_t* keys;
  int32_t* companions;

  IntPair Take(int i) const { return {keys[i], companions[i]}; }
  bool Moves(int j, const IntPair& f) const { return keys[j] > f.key; }
  void Shift(int from, int to) const {
    keys[to] = keys[from];
    companions[to] = companions[from];
  }
  void Put(int i, const IntPair& f) const {
    keys[i] = f.key;
    companions[i] = f.companion;
  }
};

struct ComplexPair {
  double re;
  double im;
};

// Shared by the two complex kernels: both move the two parts at the stride.
struct ComplexItems {
  double* re;
  double* im;
  int stride;

  ComplexPair Take(int i) const { return {re[At(i, stride)], im[At(i, stride)]}; }
  void Shift(int from, int to) const {
    re[At(to, stride)] = re[At(from, stride)];
    im[At(to, stride)] = im[At(from, stride)];
  }
  void Put(int i, const ComplexPair& f) const {
    re[At(i, stride)] = f.re;
    im[At(i, stride)] = f.im;
  }
};

struct ComplexByParts : ComplexItems {
  bool descending;

  bool Moves(int j, const ComplexPair& f) const {
    const double hr = re[At(j, stride)];
    const double hi = im[At(j, stride)];
    if (descending) {
      if (hr < f.re || std::isunordered(hr, f.re)) return true;
      return hr == f.re && hi > f.im;
    }
    if (hr > f.re) return true;
    return (hr == f.re || std::isunordered(hr, f.re)) && hi > f.im;
  }
};

struct ComplexByMagnitude : ComplexItems {
  bool descending;

  bool Moves(int j, const ComplexPair& f) const {
    const double hr = re[At(j, stride)];
    const double hi = im[At(j, stride)];
    const double hm = hr * hr + hi * hi;
    const double fm = f.re * f.re + f.im * f.im;
    const double ha = std::fabs(hi);
    const double fa = std::fabs(f.im);
    if (descending) {
      if (hm < fm) return true;
      if (hm != fm) return false;
      if (ha < fa) return true;
      return ha == fa && hi < f.im;
    }
    if (hm > fm) return true;
    if (hm != fm) return false;
    if (ha > fa) return true;
    return ha == fa && hi > f.im;
  }
};

struct ByComparison {
  ItemComparison compare;
  int32_t* index;
  void* userData;
  bool descending;

  int32_t Take(int i) const { return index[i]; }
  bool Moves(int j, int32_t f) const {
    const int32_t h = index[j];
    // Reduced to a sign before negating: a comparison may answer INT_MIN.
    const int answer = compare(f, h, userData);
    int sign = (answer > 0) - (answer < 0);
    if (descending) sign = -sign;
    return sign < 0 || (sign == 0 && h > f);
  }
  void Shift(int from, int to) const { index[to] = index[from]; }
  void Put(int i, int32_t f) const { index[i] = f; }
};

struct DoubleWithInt {
  double value;
  int32_t companion;
};

struct DoublesWithIndex {
  double* data;
  int32_t* companions;
  int stride;

  DoubleWithInt Take(int i) const { return {data[At(i, stride)], companions[At(i, stride)]}; }
  bool Moves(int j, const DoubleWithInt& f) const {
    const double h = data[At(j, stride)];
    return h > f.value || std::isunordered(h, f.value);
  }
  void Shift(int from, int to) const {
    data[At(to, stride)] = data[At(from, stride)];
    companions[At(to, stride)] = companions[At(from, stride)];
  }
  void Put(int i, const DoubleWithInt& f) const {
    data[At(i, stride)] = f.value;
    companions[At(i, stride)] = f.companion;
  }
};

struct KeyedEntry {
  double key;
  double first;
  double second;
  int32_t third;
};

struct KeysWithCompanions {
  double* keys;
  double* first;
  double* second;
  int32_t* third;  // may be null
  int stride;
  bool descending;

  KeyedEntry Take(int i) const {
    const ptrdiff_t s = At(i, stride);
    return {keys[i], first[s], second[s], third ? third[s] : 0};
  }
  bool Moves(int j, const KeyedEntry& f) const {
    const double h = keys[j];
    bool tie;
    if (descending) {
      if (h < f.key || std::isunordered(h, f.key)) return true;
      tie = h == f.key;
    } else {
      if (h > f.key) return true;
      tie = h == f.key || std::isunordered(h, f.key);
    }
    return tie && third && third[At(j, stride)] > f.third;
  }
  void Shift(int from, int to) const {
    keys[to] = keys[from];
    first[At(to, stride)] = first[At(from, stride)];
    second[At(to, stride)] = second[At(from, stride)];
    if (third) third[At(to, stride)] = third[At(from, stride)];
  }
  void Put(int i, const KeyedEntry& f) const {
    const ptrdiff_t s = At(i, stride);
    keys[i] = f.key;
    first[s] = f.first;
    second[s] = f.second;
    if (third) third[s] = f.third;
  }
};

}  // namespace

void ShellSortDoubles(double* data, int count, int stride, bool descending) {
  Doubles items{data, stride, descending};
  RunShellSort(items, count);
}

void ShellSortInts(int32_t* values, int count) {
  Ints items{values};
  RunShellSort(items, count);
}

void ShellSortIntPairs(int32_t* keys, int32_t* companions, int count) {
  IntPairs items{keys, companions};
  RunShellSort(items, count);
}

void ShellSortComplex(double* re, double* im, int count, int stride, bool descending) {
  ComplexByParts items{{re, im, stride}, descending};
  RunShellSort(items, count);
}

void ShellSortComplexByMagnitude(double* re, double* im, int count, int stride, bool descending) {
  ComplexByMagnitude items{{re, im, stride}, descending};
  RunShellSort(items, count);
}

void ShellSortIndicesByComparison(int count, ItemComparison compare, int32_t* index, void* userData, bool descending) {
  for (int i = 0; i < count; ++i) index[i] = i;
  ByComparison items{compare, index, userData, descending};
  RunShellSort(items, count);
}

void ShellSortDoublesWithIndex(double* data, int32_t* companions, int count, int stride) {
  DoublesWithIndex items{data, companions, stride};
  RunShellSort(items, count);
}

void ShellSortKeysWithCompanions(double* keys, double* first, double* second, int32_t* third, int count, int stride,
                                 bool descending) {
  KeysWithCompanions items{keys, first, second, third, stride, descending};
  RunShellSort(items, count);
}
