#pragma once

// A processor described by a table of CPUID answers; absent leaves read as zeros.

#include <cstdint>
#include <cstring>
#include <map>
#include <string_view>
#include <utility>

#include "platform/cpu.h"

namespace fakes {

class FakeCpuid final : public platform::CpuidSource {
 public:
  FakeCpuid& set(std::uint32_t leaf, std::uint32_t subleaf, platform::CpuidRegs regs) {
    leaves_[{leaf, subleaf}] = regs;
    return *this;
  }
  FakeCpuid& set(std::uint32_t leaf, platform::CpuidRegs regs) { return set(leaf, 0, regs); }
  FakeCpuid& set_xcr0(std::uint64_t value) {
    xcr0_ = value;
    return *this;
  }
  /// Stores `brand` (at most 48 bytes, zero-padded) in leaves 0x80000002..4
  /// and raises the highest extended leaf to 0x80000004 if needed.
  FakeCpuid& set_brand(std::string_view brand) {
    unsigned char bytes[48] = {};
    std::memcpy(bytes, brand.data(), brand.size() < 48 ? brand.size() : 48);
    for (std::uint32_t i = 0; i < 3; ++i) {
      std::uint32_t words[4];
      for (std::uint32_t w = 0; w < 4; ++w) {
        const unsigned char* p = bytes + 16 * i + 4 * w;
        words[w] = p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
      }
      set(0x80000002u + i, {words[0], words[1], words[2], words[3]});
    }
    platform::CpuidRegs& top = leaves_[{0x80000000u, 0}];
    if (top.eax < 0x80000004u) top.eax = 0x80000004u;
    return *this;
  }
  /// Mutable access to one leaf's registers (created as zeros).
  platform::CpuidRegs& at(std::uint32_t leaf, std::uint32_t subleaf = 0) { return leaves_[{leaf, subleaf}]; }

  platform::CpuidRegs cpuid(std::uint32_t leaf, std::uint32_t subleaf) const override {
    const auto it = leaves_.find({leaf, subleaf});
    return it == leaves_.end() ? platform::CpuidRegs{} : it->second;
  }
  std::uint64_t xcr0() const override {
    ++xcr0_reads_;
    return xcr0_;
  }
  /// How often XGETBV was "executed"; on hardware without OSXSAVE it faults.
  int xcr0_reads() const { return xcr0_reads_; }

 private:
  std::map<std::pair<std::uint32_t, std::uint32_t>, platform::CpuidRegs> leaves_;
  std::uint64_t xcr0_ = 0;
  mutable int xcr0_reads_ = 0;
};

}  // namespace fakes
