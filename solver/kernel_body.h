// The update loops, written once. Each per-instruction-set unit includes this
// file inside its own anonymous namespace (after solver/kernel_args.h), so every
// unit gets private copies compiled with its own flags and the linker can never
// merge an AVX instantiation into the SSE2 path. Hence no include guard, no
// includes and nothing with external linkage here.

// Position of cell (x, y, z) in an array of the given edge; z is contiguous.
constexpr std::uint64_t cell_index(std::uint64_t edge, std::uint64_t x, std::uint64_t y,
                                   std::uint64_t z) {
  return z + edge * (y + edge * x);
}

// Scalar cell updates. The order is fixed: both differences, their difference,
// the product with the coefficient, then the add to (E) or subtract from (H)
// the old value; every step rounds. Contraction is off, so nothing fuses.
struct ScalarCells {
  using Coefficient = double;
  static Coefficient coefficient(double k) { return k; }

  // No prefetch hints: the scalar updates are bound by their arithmetic, the
  // hardware prefetchers keep the four streams fed, and side by side with the
  // same loop without hints the hints cost 1 to 3 % at most sizes.
  static constexpr bool kPrefetchHints = false;

  // H(x,y,z) from E at the cell c and its upper neighbours ex, ey, ez.
  static void update_h(Cell* h, const Cell* c, const Cell* ex, const Cell* ey, const Cell* ez,
                       double k) {
    h->x = h->x - k * ((ey->z - c->z) - (ez->y - c->y));
    h->y = h->y - k * ((ez->x - c->x) - (ex->z - c->z));
    h->z = h->z - k * ((ex->y - c->y) - (ey->x - c->x));
  }

  // E(x,y,z) from H at the cell c and its lower neighbours hx, hy, hz.
  static void update_e(Cell* e, const Cell* c, const Cell* hx, const Cell* hy, const Cell* hz,
                       double k) {
    e->x = e->x + k * ((c->z - hy->z) - (c->y - hz->y));
    e->y = e->y + k * ((c->x - hz->x) - (c->z - hx->z));
    e->z = e->z + k * ((c->y - hx->y) - (c->x - hy->x));
  }
};

// Vector cell updates: one cell is one four-lane vector (x, y, z, pad). Ops
// supplies load, store, sub, broadcast, blend<mask> (lane i from the second
// operand where bit i is set), permute<order> (lane i takes lane (order >> 2i) & 3)
// and the fused fmadd / fnmadd.
//
// The curl needs A = (dY.z, dZ.x, dX.y, dY.pad) and B = (dZ.y, dX.z, dY.x, dZ.pad).
// Since every difference is "neighbour minus cell" (or the reverse), the lanes can
// be gathered from the three neighbour cells first: T = (nz.x, nx.y, ny.z, ny.pad)
// and U = (ny.x, nz.y, nx.z, nz.pad), two blends each. One difference with the
// cell and one permute per operand then give A and B lane for lane, with the same
// single rounding per difference as the scalar code. Permuting each difference
// separately would cost six cross-lane permutes per cell instead of two.
template <class Ops>
struct VectorCells {
  using Vector = typename Ops::Vector;
  using Coefficient = Vector;
  static Coefficient coefficient(double k) { return Ops::broadcast(k); }

  // Hints beyond the cache-served grids (use_prefetch): side by side with the
  // same loop without them they gain about 9 % from n = 128 on.
  static constexpr bool kPrefetchHints = true;

  static constexpr int kZxyOrder = 2 | (0 << 2) | (1 << 4) | (3 << 6);  // lanes (2, 0, 1, 3)
  static constexpr int kYzxOrder = 1 | (2 << 2) | (0 << 4) | (3 << 6);  // lanes (1, 2, 0, 3)

  static Vector gather_t(Vector nx, Vector ny, Vector nz) {
    return Ops::template blend<0b0010>(Ops::template blend<0b0001>(ny, nz), nx);
  }
  static Vector gather_u(Vector nx, Vector ny, Vector nz) {
    return Ops::template blend<0b0100>(Ops::template blend<0b0001>(nz, ny), nx);
  }

  static void update_h(Cell* h, const Cell* c, const Cell* ex, const Cell* ey, const Cell* ez,
                       Vector k) {
    const Vector vc = Ops::load(c);
    const Vector vx = Ops::load(ex);
    const Vector vy = Ops::load(ey);
    const Vector vz = Ops::load(ez);
    const Vector a = Ops::template permute<kZxyOrder>(Ops::sub(gather_t(vx, vy, vz), vc));
    const Vector b = Ops::template permute<kYzxOrder>(Ops::sub(gather_u(vx, vy, vz), vc));
    Ops::store(h, Ops::fnmadd(Ops::sub(a, b), k, Ops::load(h)));
  }

  static void update_e(Cell* e, const Cell* c, const Cell* hx, const Cell* hy, const Cell* hz,
                       Vector k) {
    const Vector vc = Ops::load(c);
    const Vector vx = Ops::load(hx);
    const Vector vy = Ops::load(hy);
    const Vector vz = Ops::load(hz);
    const Vector a = Ops::template permute<kZxyOrder>(Ops::sub(vc, gather_t(vx, vy, vz)));
    const Vector b = Ops::template permute<kYzxOrder>(Ops::sub(vc, gather_u(vx, vy, vz)));
    Ops::store(e, Ops::fmadd(Ops::sub(a, b), k, Ops::load(e)));
  }
};

// Prefetch hints for the streams that miss the caches: the other field's far
// plane and the own cells come from memory (a near hint into L1 and a far one
// into L2 keep more misses in flight than the hardware prefetchers do alone),
// the next row of the near plane from the last-level cache. A prefetch never
// faults and the addresses are formed as integers, so hints that reach past
// the end of a small buffer are harmless.
constexpr std::uintptr_t kNearAheadBytes = 16 * sizeof(Cell);
constexpr std::uintptr_t kFarAheadBytes = 128 * sizeof(Cell);

template <bool kPrefetch>
void prefetch_ahead(const Cell* far_plane, const Cell* own, const Cell* next_row) {
  if constexpr (kPrefetch) {
    // Local, so units that never hint have no unused helper.
    const auto ahead = [](const Cell* cell, std::uintptr_t bytes) {
      return reinterpret_cast<const void*>(reinterpret_cast<std::uintptr_t>(cell) + bytes);
    };
    __builtin_prefetch(ahead(far_plane, kNearAheadBytes), 0, 3);
    __builtin_prefetch(ahead(own, kNearAheadBytes), 1, 3);
    __builtin_prefetch(ahead(next_row, kNearAheadBytes), 0, 3);
    __builtin_prefetch(ahead(far_plane, kFarAheadBytes), 0, 1);
    __builtin_prefetch(ahead(own, kFarAheadBytes), 1, 1);
  }
}

// Grids up to this size (both arrays) are served well enough by the caches
// and the hardware prefetchers: at n = 64 (18 MB) the hints cost 2 to 4 %
// against the same loop without them.
constexpr std::uint64_t kInCacheBytes = std::uint64_t{32} << 20;

template <class Cells>
bool use_prefetch(const KernelArgs& args) {
  const std::uint64_t n = args.e_edge;
  return n > 256 || 2 * n * n * n * sizeof(Cell) > kInCacheBytes;  // n > 256 also avoids overflow
}

// H half-step on the cells 1..n-1 of every axis (n = edge - 2, the interior
// cells per axis), restricted to the planes x_first <= x < x_end and the rows
// y_first <= y < y_end (the whole step passes 1 and n for both). The counters outlive the loops: the step counts as done
// only when all three reached their bound, which is false for n = 0 (the first
// index already lies past the bound).
template <class Cells, bool kPrefetch>
bool update_h_loops(const KernelArgs& args, std::uint64_t x_first, std::uint64_t x_end,
                    std::uint64_t y_first, std::uint64_t y_end) {
  const std::uint64_t ne = args.e_edge;
  const std::uint64_t nh = args.h_edge;
  const std::uint64_t bound = ne - 2;
  const auto k = Cells::coefficient(args.h_coefficient);
  std::uint64_t x = x_first;
  std::uint64_t y = y_first;
  std::uint64_t z = 1;
  for (x = x_first; x < x_end; ++x) {
    for (y = y_first; y < y_end; ++y) {
      Cell* h = args.h + cell_index(nh, x, y, 0);
      const Cell* e = args.e + cell_index(ne, x, y, 0);
      const Cell* ex = e + ne * ne;
      const Cell* ey = e + ne;
      for (z = 1; z < bound; ++z) {
        prefetch_ahead<kPrefetch>(ex + z, h + z, ey + z);
        Cells::update_h(h + z, e + z, ex + z, ey + z, e + z + 1, k);
      }
    }
  }
  return x == x_end && y == y_end && z == bound;
}

// E half-step on the cells 2..n of every axis.
template <class Cells, bool kPrefetch>
bool update_e_loops(const KernelArgs& args) {
  if (args.e_edge < 1) return false;
  const std::uint64_t ne = args.e_edge;
  const std::uint64_t nh = args.h_edge;
  const std::uint64_t bound = ne - 1;
  const auto k = Cells::coefficient(args.e_coefficient);
  std::uint64_t x = 2;
  std::uint64_t y = 2;
  std::uint64_t z = 2;
  for (x = 2; x < bound; ++x) {
    for (y = 2; y < bound; ++y) {
      Cell* e = args.e + cell_index(ne, x, y, 0);
      const Cell* h = args.h + cell_index(nh, x, y, 0);
      const Cell* hx = h - nh * nh;
      const Cell* hy = h - nh;
      for (z = 2; z < bound; ++z) {
        prefetch_ahead<kPrefetch>(h + z, e + z, hx + z);
        Cells::update_e(e + z, h + z, hx + z, hy + z, h + z - 1, k);
      }
    }
  }
  return x == bound && y == bound && z == bound;
}

template <class Cells>
bool update_h_kernel(const KernelArgs& args) {
  if (args.e_edge < 2) return false;
  const std::uint64_t bound = args.e_edge - 2;
  if constexpr (Cells::kPrefetchHints) {
    if (use_prefetch<Cells>(args)) return update_h_loops<Cells, true>(args, 1, bound, 1, bound);
  }
  return update_h_loops<Cells, false>(args, 1, bound, 1, bound);
}

// The same loops on the rows y_first <= y < y_end of plane x, clipped to the H
// step's range 1..n-1; an empty range does nothing and reports success, so a
// caller may split the step into rows and combine the results. As the whole
// step, it fails for n = 0. No hints: the caller walks single rows, and the E
// rows they read were mostly written just before (hints here measured no gain).
template <class Cells>
bool update_h_rows_kernel(const KernelArgs& args, std::uint64_t x, std::uint64_t y_first,
                          std::uint64_t y_end) {
  if (args.e_edge < 3) return false;
  const std::uint64_t bound = args.e_edge - 2;
  const std::uint64_t first = y_first < 1 ? 1 : y_first;
  const std::uint64_t end = y_end < bound ? y_end : bound;
  if (x < 1 || x >= bound || first >= end) return true;
  return update_h_loops<Cells, false>(args, x, x + 1, first, end);
}

template <class Cells>
bool update_e_kernel(const KernelArgs& args) {
  if constexpr (Cells::kPrefetchHints) {
    if (use_prefetch<Cells>(args)) return update_e_loops<Cells, true>(args);
  }
  return update_e_loops<Cells, false>(args);
}
