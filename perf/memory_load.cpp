// Memory traffic for other cores while a benchmark runs: reads and writes two
// arrays far larger than any last-level cache, as the fused step does, so that
// a one-thread comparison can be made with the memory system as busy as it is
// when every core runs. Pin it with taskset to the cores the benchmark leaves.
//
// Usage: zelvo_memory_load SECONDS [MIB]
// Streams for SECONDS of wall time (0: one pass) over two arrays of MIB MiB
// each (512 by default), then prints "memory load: GB/s passes".
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

// A whole number from low to high, digits only (strtoull alone would take a sign or blanks).
bool parse(const char* text, unsigned long long low, unsigned long long high, unsigned long long& value) {
  if (text[0] < '0' || text[0] > '9') return false;
  char* end = nullptr;
  value = std::strtoull(text, &end, 10);
  return *end == '\0' && value >= low && value <= high;
}

}  // namespace

int main(int argc, char** argv) {
  unsigned long long seconds = 0;
  unsigned long long mib = 512;
  if (argc < 2 || argc > 3 || !parse(argv[1], 0, 86400, seconds) || (argc == 3 && !parse(argv[2], 1, 65536, mib))) {
    std::fprintf(stderr, "usage: zelvo_memory_load SECONDS [MIB] (SECONDS 0 to 86400, MIB 1 to 65536)\n");
    return 2;
  }
  const std::size_t count = static_cast<std::size_t>(mib) << 17;  // doubles in MIB MiB
  std::vector<double> a(count, 1.0);
  std::vector<double> b(count, 2.0);
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  const auto until = start + std::chrono::seconds(seconds);
  std::uint64_t passes = 0;
  do {
    // x -> 0.5 x + 1 keeps every value at 2 or below and never denormal.
    for (std::size_t i = 0; i < count; ++i) {
      a[i] = a[i] * 0.5 + 1.0;
      b[i] = b[i] * 0.5 + 1.0;
    }
    asm volatile("" : : "r"(a.data()), "r"(b.data()) : "memory");
    ++passes;
  } while (Clock::now() < until);
  const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  // Each pass reads and writes both arrays.
  const double bytes = 4.0 * static_cast<double>(count) * sizeof(double) * static_cast<double>(passes);
  std::printf("memory load: %.1f GB/s %llu\n", bytes / elapsed / 1e9, static_cast<unsigned long long>(passes));
  return 0;
}
