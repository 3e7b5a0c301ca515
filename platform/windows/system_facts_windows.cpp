#include <windows.h>

#include <string>

#include "platform/system_facts.h"

namespace platform::os {
namespace {

// RtlGetVersion tells the real version, where GetVersionEx answers by manifest.
using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
// Exported by Wine's ntdll only.
using WineGetVersionFn = const char*(CDECL*)();

std::string utf8(const wchar_t* text, int length) {
  if (length <= 0) return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return {};
  std::string result(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, length, result.data(), size, nullptr, nullptr);
  return result;
}

template <class Fn>
Fn ntdll_function(const char* name) {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  if (ntdll == nullptr) return nullptr;
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(ntdll, name)));
}

}  // namespace

std::optional<std::vector<std::uint32_t>> allowed_processors() { return std::nullopt; }

SystemFacts system_facts() {
  SystemFacts facts;
  wchar_t host[256] = {};
  DWORD host_length = 255;
  if (GetComputerNameExW(ComputerNameDnsHostname, host, &host_length)) {
    facts.host_name = utf8(host, static_cast<int>(host_length));
  }

  facts.os_name = "Windows";
  if (const auto get_version = ntdll_function<RtlGetVersionFn>("RtlGetVersion")) {
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof(version);
    if (get_version(&version) == 0) {
      facts.os_release = std::to_string(version.dwMajorVersion) + "." + std::to_string(version.dwMinorVersion) +
                         "." + std::to_string(version.dwBuildNumber);
      facts.kernel = "NT " + facts.os_release;
    }
  }
  // Under Wine the program runs on Wine, not on the version it claims.
  if (const auto wine_version = ntdll_function<WineGetVersionFn>("wine_get_version")) {
    facts.kernel = std::string("Wine ") + wine_version();
  }

  MEMORYSTATUSEX status{};
  status.dwLength = sizeof(status);
  if (GlobalMemoryStatusEx(&status)) facts.memory_installed_bytes = status.ullTotalPhys;
  return facts;
}

}  // namespace platform::os
