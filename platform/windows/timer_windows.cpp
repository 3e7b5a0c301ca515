#include <windows.h>

#include "platform/timer_os.h"

namespace platform::os {
namespace {

// NtQueryTimerResolution has no import library entry in every toolchain and
// may be missing altogether, so it is looked up at run time.
using NtQueryTimerResolutionFn = LONG(NTAPI*)(PULONG minimum, PULONG maximum, PULONG current);

constexpr std::uint64_t kHundredNanosecondsPerSecond = 10'000'000;

// The version query passes the structure with its documented size.
static_assert(sizeof(OSVERSIONINFOEXW) == 284);

}  // namespace

std::int64_t fast_counter() {
  LARGE_INTEGER now{};
  QueryPerformanceCounter(&now);
  return now.QuadPart;
}

std::int64_t fast_counter_frequency() {
  LARGE_INTEGER frequency{};
  QueryPerformanceFrequency(&frequency);
  return frequency.QuadPart;
}

std::uint64_t coarse_counter_ms() { return GetTickCount64(); }

TimerPeriodAnswer primary_timer_period() {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  if (ntdll == nullptr) return {};
  const FARPROC address = GetProcAddress(ntdll, "NtQueryTimerResolution");
  if (address == nullptr) return {};
  const auto query = reinterpret_cast<NtQueryTimerResolutionFn>(reinterpret_cast<void*>(address));
  ULONG minimum = 0;
  ULONG maximum = 0;
  ULONG current = 0;
  if (query(&minimum, &maximum, &current) < 0) return {};
  return {true, current, kHundredNanosecondsPerSecond};
}

TimerPeriodAnswer fallback_timer_period() {
  DWORD adjustment = 0;
  DWORD increment = 0;
  BOOL disabled = FALSE;
  if (!GetSystemTimeAdjustment(&adjustment, &increment, &disabled)) return {};
  return {true, increment, kHundredNanosecondsPerSecond};
}

bool os_version_at_least_6_2() {
  OSVERSIONINFOEXW wanted{};
  wanted.dwOSVersionInfoSize = sizeof(wanted);
  wanted.dwMajorVersion = 6;
  wanted.dwMinorVersion = 2;
  wanted.wServicePackMajor = 0;
  ULONGLONG conditions = 0;
  conditions = VerSetConditionMask(conditions, VER_MAJORVERSION, VER_GREATER_EQUAL);
  conditions = VerSetConditionMask(conditions, VER_MINORVERSION, VER_GREATER_EQUAL);
  conditions = VerSetConditionMask(conditions, VER_SERVICEPACKMAJOR, VER_GREATER_EQUAL);
  return VerifyVersionInfoW(&wanted, VER_MAJORVERSION | VER_MINORVERSION | VER_SERVICEPACKMAJOR,
                            conditions) != FALSE;
}

}  // namespace platform::os
