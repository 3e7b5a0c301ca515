#include <sched.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/linux/text_file.h"
#include "platform/meminfo.h"
#include "platform/system_facts.h"

namespace platform::os {
namespace {

std::string read_text(const char* path) { return read_text_file(path).value_or(""); }

std::string first_line(const std::string& text) { return text.substr(0, text.find('\n')); }

}  // namespace

std::optional<std::vector<std::uint32_t>> allowed_processors() {
  // The set's size must cover the kernel's processor limit; grow until it does.
  for (int count = 1024; count <= (1 << 20); count *= 2) {
    cpu_set_t* set = CPU_ALLOC(count);
    if (set == nullptr) return std::nullopt;
    const std::size_t size = CPU_ALLOC_SIZE(count);
    if (sched_getaffinity(0, size, set) == 0) {
      std::vector<std::uint32_t> cpus;
      for (int cpu = 0; cpu < count; ++cpu) {
        if (CPU_ISSET_S(cpu, size, set)) cpus.push_back(static_cast<std::uint32_t>(cpu));
      }
      CPU_FREE(set);
      return cpus;
    }
    const int error = errno;
    CPU_FREE(set);
    if (error != EINVAL) return std::nullopt;
  }
  return std::nullopt;
}

SystemFacts system_facts() {
  SystemFacts facts;
  char host[256] = {};
  if (gethostname(host, sizeof(host) - 1) == 0) facts.host_name = host;

  std::string release = read_text("/etc/os-release");
  if (release.empty()) release = read_text("/usr/lib/os-release");
  facts.os_name = os_release_value(release, "NAME");
  facts.os_release = os_release_value(release, "VERSION_ID");
  if (facts.os_release.empty()) facts.os_release = os_release_value(release, "VERSION");
  utsname names{};
  if (uname(&names) == 0) facts.kernel = names.release;

  const std::string meminfo = read_text("/proc/meminfo");
  facts.memory_installed_bytes = meminfo_bytes(meminfo, "MemTotal");
  // A count of 0 is an answer too, so presence decides.
  if (meminfo.find("\nHugePages_Free:") != std::string::npos) {
    facts.large_pages_free = meminfo_bytes(meminfo, "HugePages_Free");
  }
  facts.transparent_huge_pages = bracketed_choice(read_text("/sys/kernel/mm/transparent_hugepage/enabled"));
  facts.frequency_governor = first_line(read_text("/sys/devices/system/cpu/cpu0/cpufreq/scaling_governor"));
  facts.allowed_processors = allowed_processors();
  return facts;
}

}  // namespace platform::os
