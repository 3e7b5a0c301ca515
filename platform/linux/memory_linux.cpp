#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <new>
#include <string>
#include <unordered_map>

#include "platform/linux/text_file.h"
#include "platform/meminfo.h"
#include "platform/memory.h"
#include "platform/memory_os.h"

namespace platform::os {
namespace {

std::string read_meminfo() { return read_text_file("/proc/meminfo").value_or(""); }

// munmap needs the length that mmap got, and the ledger the size it granted;
// the portable interface passes only the block.
class BlockLengths {
 public:
  bool add(void* block, std::size_t length) {
    std::lock_guard lock(mutex_);
    try {
      lengths_[block] = length;
    } catch (const std::bad_alloc&) {
      return false;
    }
    return true;
  }
  /// The recorded length of `block`, forgotten on return; 0 when unknown.
  std::size_t take(void* block) {
    std::lock_guard lock(mutex_);
    const auto it = lengths_.find(block);
    if (it == lengths_.end()) return 0;
    const std::size_t length = it->second;
    lengths_.erase(it);
    return length;
  }

 private:
  std::mutex mutex_;
  std::unordered_map<void*, std::size_t> lengths_;
};

BlockLengths& mapping_lengths() {
  static BlockLengths lengths;
  return lengths;
}

BlockLengths& heap_lengths() {
  static BlockLengths lengths;
  return lengths;
}

// Linux over-commits: without the ledger a field larger than the machine can
// back is granted and the process dies when it first writes the pages, with no
// message.
// Large pages need no ledger: their pool is reserved when they are mapped.
GrantLedger& heap_ledger() {
  static GrantLedger ledger;
  return ledger;
}

// Field blocks are streamed plane by plane, and with 4 KiB pages the page
// walks (two-level ones on a virtual machine) cost a fifth of the kernels'
// throughput. Blocks of at least one transparent huge page are aligned to it
// and advised for it; the kernel still backs them with whatever it has.
constexpr std::uint64_t kTransparentPageBytes = std::uint64_t{2} << 20;

std::uint64_t read_available() { return meminfo_bytes(read_meminfo(), "MemAvailable"); }

}  // namespace

void* aligned_block(std::uint64_t size_bytes) {
  const bool huge = size_bytes >= kTransparentPageBytes;
  const std::uint64_t length = huge ? round_to_large_pages(size_bytes, kTransparentPageBytes) : size_bytes;
  // Zero: the rounding overflowed.
  if ((huge && length == 0) || length > SIZE_MAX) return nullptr;
  if (!heap_ledger().grant(size_bytes, &read_available)) return nullptr;
  const auto size = static_cast<std::size_t>(size_bytes);
  void* block = nullptr;
  if (huge) {
    block = std::aligned_alloc(kTransparentPageBytes, static_cast<std::size_t>(length));
    // Only a hint: where the system has no transparent huge pages the block
    // keeps ordinary ones, so a refusal changes nothing.
    if (block != nullptr) (void)madvise(block, static_cast<std::size_t>(length), MADV_HUGEPAGE);
  } else {
    block = std::aligned_alloc(64, size);
  }
  if (block == nullptr || !heap_lengths().add(block, size)) {
    std::free(block);
    heap_ledger().release(size_bytes);
    return nullptr;
  }
  return block;
}

void release_aligned_block(void* block) {
  heap_ledger().release(heap_lengths().take(block));
  std::free(block);
}

std::uint64_t prepare_large_pages() { return meminfo_bytes(read_meminfo(), "Hugepagesize"); }

void* map_large_pages(std::uint64_t length) {
  if (length == 0 || length > SIZE_MAX) return nullptr;
  const auto size = static_cast<std::size_t>(length);
  void* block = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_HUGETLB, -1, 0);
  if (block == MAP_FAILED) return nullptr;
  if (!mapping_lengths().add(block, size)) {
    munmap(block, size);
    return nullptr;
  }
  return block;
}

void unmap_large_pages(void* block) {
  if (block == nullptr) return;
  const std::size_t length = mapping_lengths().take(block);
  if (length != 0) munmap(block, length);
}

std::uint64_t aligned_capacity() { return heap_ledger().capacity(&read_available); }

std::optional<std::uint64_t> large_page_pool_bytes() { return huge_page_pool_bytes(read_meminfo()); }

std::uint64_t available_memory_bytes() { return read_available(); }

}  // namespace platform::os
