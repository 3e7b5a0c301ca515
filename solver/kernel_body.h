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

  // No prefetch hints in the separate half-steps: the scalar updates are bound
  // by their arithmetic, the hardware prefetchers keep the four streams fed,
  // and side by side with the same loop without hints the hints cost 1 to 3 %
  // at most sizes.
  static constexpr bool kPrefetchHints = false;
  // The fused step's hints bring the memory streams straight into L1 (see
  // prefetch_ahead).
  static constexpr bool kStepHintsToL1 = true;

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

  // The same updates on values held in registers, for the fused step: the
  // cell, its z-neighbour and the old value are passed in (each loaded once
  // and carried along the row), the x- and y-neighbours read here.
  struct Value {
    double x;
    double y;
    double z;
  };
  static Value load(const Cell* c) { return Value{c->x, c->y, c->z}; }
  static void store(Cell* c, Value v) {
    c->x = v.x;
    c->y = v.y;
    c->z = v.z;
  }
  static Value new_h(Value h, Value c, const Cell* ex, const Cell* ey, Value ez, double k) {
    return Value{h.x - k * ((ey->z - c.z) - (ez.y - c.y)), h.y - k * ((ez.x - c.x) - (ex->z - c.z)),
                 h.z - k * ((ex->y - c.y) - (ey->x - c.x))};
  }
  static Value new_e(Value e, Value c, const Cell* hx, const Cell* hy, Value hz, double k) {
    return Value{e.x + k * ((c.z - hy->z) - (c.y - hz.y)), e.y + k * ((c.x - hz.x) - (c.z - hx->z)),
                 e.z + k * ((c.y - hx->y) - (c.x - hy->x))};
  }
};

// Vector cell updates: one cell is one four-lane vector (x, y, z, pad). Ops
// supplies load, load_once (a load the compiler may not fold into its users),
// store, sub, broadcast, blend<mask> (lane i from the second operand where bit i
// is set), interleave (lanes 0 and 2 from the first operand, 1 and 3 from the
// second), permute<order> (lane i takes lane (order >> 2i) & 3) and the fused
// fmadd / fnmadd.
//
// The curl needs A = (dY.z, dZ.x, dX.y, dY.pad) and B = (dZ.y, dX.z, dY.x, dZ.pad).
// Since every difference is "neighbour minus cell" (or the reverse), the lanes can
// be gathered from the three neighbour cells first: T = (nz.x, nx.y, ny.z, ny.pad)
// and U = (ny.x, nz.y, nx.z, nz.pad), two operations each. One difference with
// the cell and one permute per operand then give A and B lane for lane, with the
// same single rounding per difference as the scalar code. Permuting each
// difference separately would cost six cross-lane permutes per cell instead of two.
//
// Each gather takes nx and ny first and the z-neighbour last: in the fused step
// nz is the newest value (the cell just loaded, or for E the H just computed),
// so only one of the two operations waits for it. U's last step is an
// interleave, not a blend: on AMD Zen 5 a blend runs on two of the four vector
// pipes, the two the FMA needs, while an in-lane shuffle runs on all four
// (blends, FMA, permutes and subtracts 2 per cycle each, shuffles 4, measured).
// T keeps its blends, since no shuffle gives its lanes. Together, one thread,
// fused step, cycles per cell (zelvo_cycles_perf, the best median of four
// interleaved runs): 3.10 -> 2.91 at n = 16, 3.66 -> 3.47 at n = 32, 4.09 ->
// 3.81 at n = 64. Lanes are only moved, so the bits are the same.
template <class Ops>
struct VectorCells {
  using Vector = typename Ops::Vector;
  using Coefficient = Vector;
  static Coefficient coefficient(double k) { return Ops::broadcast(k); }

  // Hints beyond the cache-served grids (use_prefetch): side by side with the
  // same loop without them they gain about 9 % from n = 128 on.
  static constexpr bool kPrefetchHints = true;
  static constexpr bool kStepHintsToL1 = false;

  static constexpr int kZxyOrder = 2 | (0 << 2) | (1 << 4) | (3 << 6);  // lanes (2, 0, 1, 3)
  static constexpr int kYzxOrder = 1 | (2 << 2) | (0 << 4) | (3 << 6);  // lanes (1, 2, 0, 3)

  static Vector gather_t(Vector nx, Vector ny, Vector nz) {
    return Ops::template blend<0b0001>(Ops::template blend<0b0010>(ny, nx), nz);
  }
  static Vector gather_u(Vector nx, Vector ny, Vector nz) {
    return Ops::interleave(Ops::template blend<0b0100>(ny, nx), nz);
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

  // The same updates on cells held in registers, for the fused step: the
  // cell, its z-neighbour and the old value come in (each loaded once and
  // carried along the row), the x- and y-neighbours are read here. Each of
  // those feeds two blends, so it is loaded into a register first (load_once);
  // folded into both blends it would be read twice.
  using Value = Vector;
  static Value load(const Cell* c) { return Ops::load(c); }
  static void store(Cell* c, Value v) { Ops::store(c, v); }

  static Value new_h(Value h, Value c, const Cell* ex, const Cell* ey, Value ez, Vector k) {
    const Vector vx = Ops::load_once(ex);
    const Vector vy = Ops::load_once(ey);
    const Vector a = Ops::template permute<kZxyOrder>(Ops::sub(gather_t(vx, vy, ez), c));
    const Vector b = Ops::template permute<kYzxOrder>(Ops::sub(gather_u(vx, vy, ez), c));
    return Ops::fnmadd(Ops::sub(a, b), k, h);
  }

  static Value new_e(Value e, Value c, const Cell* hx, const Cell* hy, Value hz, Vector k) {
    const Vector vx = Ops::load_once(hx);
    const Vector vy = Ops::load_once(hy);
    const Vector a = Ops::template permute<kZxyOrder>(Ops::sub(c, gather_t(vx, vy, hz)));
    const Vector b = Ops::template permute<kYzxOrder>(Ops::sub(c, gather_u(vx, vy, hz)));
    return Ops::fmadd(Ops::sub(a, b), k, e);
  }
};

// Prefetch hints for the streams that miss the caches: the other field's far
// plane and the own cells come from memory (a near hint into L1 and a far one
// into L2 keep more misses in flight than the hardware prefetchers do alone),
// the next row of the near plane from the last-level cache. A prefetch never
// faults and the addresses are formed as integers, so hints that reach past
// the end of a small buffer are harmless.
//
// Cells with kStepHintsToL1 (the scalar ones) hint the two memory streams once,
// 64 cells ahead, straight into L1, and skip the near hints. A scalar cell takes
// twice the cycles of a vector one, so 64 cells ahead is as far in time as 128
// are for the vector loop. What this buys shows when other cores load memory
// too: one thread, sse2, n = 192, another core streaming two arrays, the two
// versions interleaved step by step in one process, 1.04 to 1.07 times as fast
// as with the two-level hints; on an idle machine the same (0.98 to 1.0). The
// vector kernels keep the two-level hints: into L1 their step at n = 192 lost
// up to 5 %.
//
// The fused step reads two rows from L2: H of the plane below (next_row) and
// E of the next row, which the previous plane's pass read as its far plane.
// Cells with kStepHintsToL1 hint the second one too (prefetch_near_row). One
// thread, idle machine, interleaved as above: sse2 at n = 192 1.01 to 1.04
// times as fast as without, n = 512 1.04, avx the same; the fma loop, with
// half the instructions per cell, measured no change from it.
constexpr std::uintptr_t kNearAheadBytes = 16 * sizeof(Cell);
constexpr std::uintptr_t kFarAheadBytes = 128 * sizeof(Cell);
constexpr std::uintptr_t kL1AheadBytes = 64 * sizeof(Cell);

template <class Cells, bool kPrefetch>
void prefetch_ahead(const Cell* far_plane, const Cell* own, const Cell* next_row) {
  if constexpr (kPrefetch) {
    // Local, so units that never hint have no unused helper.
    const auto ahead = [](const Cell* cell, std::uintptr_t bytes) {
      return reinterpret_cast<const void*>(reinterpret_cast<std::uintptr_t>(cell) + bytes);
    };
    __builtin_prefetch(ahead(next_row, kNearAheadBytes), 0, 3);
    if constexpr (Cells::kStepHintsToL1) {
      __builtin_prefetch(ahead(far_plane, kL1AheadBytes), 0, 3);
      __builtin_prefetch(ahead(own, kL1AheadBytes), 1, 3);
    } else {
      __builtin_prefetch(ahead(far_plane, kNearAheadBytes), 0, 3);
      __builtin_prefetch(ahead(own, kNearAheadBytes), 1, 3);
      __builtin_prefetch(ahead(far_plane, kFarAheadBytes), 0, 1);
      __builtin_prefetch(ahead(own, kFarAheadBytes), 1, 1);
    }
  }
}

template <class Cells, bool kPrefetch>
void prefetch_near_row(const Cell* near_row) {
  if constexpr (kPrefetch && Cells::kStepHintsToL1) {
    const std::uintptr_t ahead = reinterpret_cast<std::uintptr_t>(near_row) + kNearAheadBytes;
    __builtin_prefetch(reinterpret_cast<const void*>(ahead), 0, 3);
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
// y_first <= y < y_end (the whole step passes 1 and n for both). The counters
// outlive the loops: the step counts as done only when all three reached their
// bound, which is false for n = 0 (the first index already lies past the bound).
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
        prefetch_ahead<Cells, kPrefetch>(ex + z, h + z, ey + z);
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
        prefetch_ahead<Cells, kPrefetch>(h + z, e + z, hx + z);
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

// The whole step in one sweep. H at a cell reads E at the cell and at its upper
// neighbours, E at a cell reads H at the cell and at its lower neighbours; so,
// visiting the cells in x, y, z order and updating H and then E at each, H
// still sees only old E and E already sees only new H, exactly as in the two
// separate sweeps, and the results are the same bit for bit. Each cell is
// loaded once: the E cell read as the z-neighbour of H is the next cell of
// both updates, and the new H is the z-neighbour of the next E update, so both
// ride along the row in registers. Planes and rows at the ends of the ranges
// (H covers 1..n-1, E 2..n) get only one of the two updates.

// H on the cells 1..n-1 of one row.
template <class Cells, bool kPrefetch>
void step_h_row(Cell* h, const Cell* e, std::uint64_t edge, std::uint64_t n,
                typename Cells::Coefficient k) {
  const Cell* ex = e + edge * edge;
  const Cell* ey = e + edge;
  auto c = Cells::load(e + 1);
  for (std::uint64_t z = 1; z < n; ++z) {
    prefetch_ahead<Cells, kPrefetch>(ex + z, h + z, ey + z);
    const auto ez = Cells::load(e + z + 1);
    Cells::store(h + z, Cells::new_h(Cells::load(h + z), c, ex + z, ey + z, ez, k));
    c = ez;
  }
}

// E on the cells 2..n of one row. The fused step runs it on row n and plane n,
// where H is never updated: its cells come from memory, not from a row or
// plane the sweep has just written, so they get the far hints (sse2, n = 192,
// one thread: 1.007 times as fast as with the hints on the plane below).
template <class Cells, bool kPrefetch>
void step_e_row(Cell* e, const Cell* h, std::uint64_t edge, std::uint64_t n,
                typename Cells::Coefficient k) {
  const Cell* hx = h - edge * edge;
  const Cell* hy = h - edge;
  auto hz = Cells::load(h + 1);
  for (std::uint64_t z = 2; z <= n; ++z) {
    prefetch_ahead<Cells, kPrefetch>(h + z, e + z, hx + z);
    const auto c = Cells::load(h + z);
    Cells::store(e + z, Cells::new_e(Cells::load(e + z), c, hx + z, hy + z, hz, k));
    hz = c;
  }
}

// Both on one row (n >= 2): H alone at z = 1, both at 2..n-1, E alone at n.
template <class Cells, bool kPrefetch>
void step_both_row(Cell* h, Cell* e, std::uint64_t edge, std::uint64_t n,
                   typename Cells::Coefficient kh, typename Cells::Coefficient ke) {
  const Cell* ex = e + edge * edge;
  const Cell* ey = e + edge;
  const Cell* hx = h - edge * edge;
  const Cell* hy = h - edge;
  auto c = Cells::load(e + 1);
  const auto ez = Cells::load(e + 2);
  auto hz = Cells::new_h(Cells::load(h + 1), c, ex + 1, ey + 1, ez, kh);
  Cells::store(h + 1, hz);
  c = ez;
  // Two cells per pass: each 64-byte line of a stream gets one hint, and the
  // values carried along the row swap roles instead of being copied. All
  // streams are reached from one byte offset, which the empty statement keeps
  // opaque so the compiler does not step seven pointers instead (a third fewer
  // instructions per cell for the scalar loop). One thread, the two versions
  // interleaved step by step: sse2 at n = 192 1.09 to 1.11 times as fast while
  // another core streams memory (the same on an idle machine), fma at n = 64
  // 1.04 to 1.10.
  const auto at = [](auto* cell, std::uintptr_t offset) {
    return reinterpret_cast<decltype(cell)>(reinterpret_cast<std::uintptr_t>(cell) + offset);
  };
  // H then E at cell i past the one `offset` bytes into the row; c (old E
  // there) and hz (the new H below it) move on by one cell.
  const auto both = [&](std::uintptr_t offset, std::uint64_t i) __attribute__((always_inline)) {
    Cell* h0 = at(h, offset) + i;
    Cell* e0 = at(e, offset) + i;
    const auto next = Cells::load(e0 + 1);
    const auto hc = Cells::new_h(Cells::load(h0), c, at(ex, offset) + i, at(ey, offset) + i, next, kh);
    Cells::store(h0, hc);
    Cells::store(e0, Cells::new_e(c, hc, at(hx, offset) + i, at(hy, offset) + i, hz, ke));
    hz = hc;
    c = next;
  };
  const std::uintptr_t end = n * sizeof(Cell);  // cells 2..n-1
  std::uintptr_t offset = 2 * sizeof(Cell);
  for (; offset + sizeof(Cell) < end; offset += 2 * sizeof(Cell)) {
    asm("" : "+r"(offset));
    prefetch_ahead<Cells, kPrefetch>(at(ex, offset), at(h, offset), at(hx, offset));
    prefetch_near_row<Cells, kPrefetch>(at(ey, offset));
    both(offset, 0);
    both(offset, 1);
  }
  if (offset < end) {  // an odd count leaves one cell
    prefetch_ahead<Cells, kPrefetch>(at(ex, offset), at(h, offset), at(hx, offset));
    prefetch_near_row<Cells, kPrefetch>(at(ey, offset));
    both(offset, 0);
  }
  Cells::store(e + n, Cells::new_e(c, Cells::load(h + n), hx + n, hy + n, hz, ke));
}

// The rows are swept in strips of `strip_rows` (y), each strip through all
// planes (x) before the next, so that the rows one plane of a strip shares with
// the next stay in cache. That reorders only rows that do not depend on each
// other: a strip's last row y reads the old E of row y + 1, which only the next
// strip updates, and the next strip's first row reads the new H of row y, which
// this strip has written; within a strip, and along x and z, the order is the
// one above. One strip of all rows is the plain x, y, z sweep.
template <class Cells, bool kPrefetch>
void step_loops(const KernelArgs& args) {
  const std::uint64_t edge = args.e_edge;
  const std::uint64_t n = edge - 2;
  const std::uint64_t rows = args.strip_rows == 0 || args.strip_rows > n ? n : args.strip_rows;
  const auto kh = Cells::coefficient(args.h_coefficient);
  const auto ke = Cells::coefficient(args.e_coefficient);
  for (std::uint64_t y_first = 1; y_first <= n; y_first += rows) {
    const std::uint64_t y_end = n - y_first < rows ? n + 1 : y_first + rows;
    for (std::uint64_t x = 1; x <= n; ++x) {
      for (std::uint64_t y = y_first; y < y_end; ++y) {
        Cell* h = args.h + cell_index(edge, x, y, 0);
        Cell* e = args.e + cell_index(edge, x, y, 0);
        const bool with_h = x < n && y < n;
        const bool with_e = x >= 2 && y >= 2;
        if (with_h && with_e) {
          step_both_row<Cells, kPrefetch>(h, e, edge, n, kh, ke);
        } else if (with_h) {
          step_h_row<Cells, kPrefetch>(h, e, edge, n, kh);
        } else if (with_e) {
          step_e_row<Cells, kPrefetch>(e, h, edge, n, ke);
        }
      }
    }
  }
}

// The fused sweep hints for every kernel, scalar ones included, once the grid
// outgrows a core's own caches: it reads the far E plane and its own H plane
// from the last-level cache or memory, while the hardware prefetchers stop at
// every 4 KiB page and a row of 64 cells is half a page. Side by side with the
// same sweep without hints (one thread, processor time, an Intel core of the
// Golden Cove class): scalar 8.1 -> 6.5 cycles per cell at n = 64 and
// 16.6 -> 12.7 at n = 192, fma 5.8 -> 5.0 and 14.4 -> 12.2; no change at n = 32.
constexpr std::uint64_t kStepHintBytes = std::uint64_t{1} << 20;

bool step_hints(const KernelArgs& args) {
  const std::uint64_t edge = args.e_edge;
  return edge > 256 || 2 * edge * edge * edge * sizeof(Cell) > kStepHintBytes;  // edge > 256 avoids overflow
}

// One H and one E half-step; fails as update_h does for n = 0, and when the
// two arrays differ in edge (the sweep walks both with one index). Past that
// check nothing can fail: every loop runs to its bound.
template <class Cells>
bool step_kernel(const KernelArgs& args) {
  if (args.e_edge < 3 || args.h_edge != args.e_edge) return false;
  if (step_hints(args)) {
    step_loops<Cells, true>(args);
  } else {
    step_loops<Cells, false>(args);
  }
  return true;
}
