#include <windows.h>
#include <malloc.h>

#include "platform/memory_os.h"

namespace platform::os {

static_assert(sizeof(MEMORYSTATUSEX) == 64);

void* aligned_block(std::uint64_t size_bytes) {
  if (size_bytes > SIZE_MAX) return nullptr;
  return _aligned_malloc(static_cast<std::size_t>(size_bytes), 64);
}

void release_aligned_block(void* block) { _aligned_free(block); }

std::uint64_t prepare_large_pages() {
  // Without the right to lock pages these steps change nothing, and the
  // large-page allocation itself fails later; so their answers are not reported.
  HANDLE token = nullptr;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (LookupPrivilegeValueA(nullptr, "SeLockMemoryPrivilege", &privileges.Privileges[0].Luid)) {
      AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    }
    CloseHandle(token);
  }
  return GetLargePageMinimum();
}

void* map_large_pages(std::uint64_t length) {
  if (length == 0 || length > SIZE_MAX) return nullptr;
  return VirtualAlloc(nullptr, static_cast<SIZE_T>(length), MEM_COMMIT | MEM_RESERVE | MEM_LARGE_PAGES,
                      PAGE_READWRITE);
}

void unmap_large_pages(void* block) {
  if (block != nullptr) VirtualFree(block, 0, MEM_RELEASE);
}

// Windows charges committed memory against its commit limit and refuses the
// block that would pass it, so no ledger is needed.
std::uint64_t aligned_capacity() { return UINT64_MAX; }

// Large pages come out of ordinary physical memory here.
std::optional<std::uint64_t> large_page_pool_bytes() { return std::nullopt; }

std::uint64_t available_memory_bytes() {
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof(status);
  if (!GlobalMemoryStatusEx(&status)) return 0;
  return status.ullAvailPhys;
}

}  // namespace platform::os
