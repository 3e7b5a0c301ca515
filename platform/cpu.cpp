#include "platform/cpu.h"

#include <array>

#include "platform/x86_intrinsics.h"

namespace platform {
namespace {

enum class Leaf : std::uint8_t { k1, k7Sub0, k7Sub1, kExt1 };
enum class Reg : std::uint8_t { kEax, kEbx, kEcx, kEdx };
/// Register state the operating system must save for the flag to count.
enum class Gate : std::uint8_t { kNone, kAvx, kAvx512 };

struct FeatureRow {
  std::string_view name;
  bool CpuFeatures::*flag;
  Leaf leaf;
  Reg reg;
  std::uint8_t bit;
  Gate gate;
};

// The feature list order. Rows kFirstAvx512Row..kLastAvx512Row collapse into
// the AVX10 entry when AVX10 is present.
constexpr std::array<FeatureRow, 62> kFeatureTable{{
    {"MMX", &CpuFeatures::mmx, Leaf::k1, Reg::kEdx, 23, Gate::kNone},
    {"SSE", &CpuFeatures::sse, Leaf::k1, Reg::kEdx, 25, Gate::kNone},
    {"SSE2", &CpuFeatures::sse2, Leaf::k1, Reg::kEdx, 26, Gate::kNone},
    {"SSE3", &CpuFeatures::sse3, Leaf::k1, Reg::kEcx, 0, Gate::kNone},
    {"SSSE3", &CpuFeatures::ssse3, Leaf::k1, Reg::kEcx, 9, Gate::kNone},
    {"SSE4.1", &CpuFeatures::sse4_1, Leaf::k1, Reg::kEcx, 19, Gate::kNone},
    {"SSE4.2", &CpuFeatures::sse4_2, Leaf::k1, Reg::kEcx, 20, Gate::kNone},
    {"SSE4a", &CpuFeatures::sse4a, Leaf::kExt1, Reg::kEcx, 6, Gate::kNone},
    {"POPCNT", &CpuFeatures::popcnt, Leaf::k1, Reg::kEcx, 23, Gate::kNone},
    {"AES", &CpuFeatures::aes, Leaf::k1, Reg::kEcx, 25, Gate::kNone},
    {"FMA", &CpuFeatures::fma, Leaf::k1, Reg::kEcx, 12, Gate::kNone},
    {"RDRAND", &CpuFeatures::rdrand, Leaf::k1, Reg::kEcx, 30, Gate::kNone},
    {"BMI1", &CpuFeatures::bmi1, Leaf::k7Sub0, Reg::kEbx, 3, Gate::kNone},
    {"BMI2", &CpuFeatures::bmi2, Leaf::k7Sub0, Reg::kEbx, 8, Gate::kNone},
    {"LZCNT", &CpuFeatures::lzcnt, Leaf::kExt1, Reg::kEcx, 5, Gate::kNone},
    {"XOP", &CpuFeatures::xop, Leaf::kExt1, Reg::kEcx, 11, Gate::kNone},
    {"AVX", &CpuFeatures::avx, Leaf::k1, Reg::kEcx, 28, Gate::kAvx},
    {"AVX2", &CpuFeatures::avx2, Leaf::k7Sub0, Reg::kEbx, 5, Gate::kAvx},
    {"AVX10", &CpuFeatures::avx10, Leaf::k7Sub1, Reg::kEdx, 19, Gate::kAvx512},
    {"AVX512F", &CpuFeatures::avx512f, Leaf::k7Sub0, Reg::kEbx, 16, Gate::kAvx512},
    {"AVX512BW", &CpuFeatures::avx512bw, Leaf::k7Sub0, Reg::kEbx, 30, Gate::kAvx512},
    {"AVX512VL", &CpuFeatures::avx512vl, Leaf::k7Sub0, Reg::kEbx, 31, Gate::kAvx512},
    {"AVX512DQ", &CpuFeatures::avx512dq, Leaf::k7Sub0, Reg::kEbx, 17, Gate::kAvx512},
    {"AVX512IFMA", &CpuFeatures::avx512ifma, Leaf::k7Sub0, Reg::kEbx, 21, Gate::kAvx512},
    {"AVX512PF", &CpuFeatures::avx512pf, Leaf::k7Sub0, Reg::kEbx, 26, Gate::kAvx512},
    {"AVX512ER", &CpuFeatures::avx512er, Leaf::k7Sub0, Reg::kEbx, 27, Gate::kAvx512},
    {"AVX512CD", &CpuFeatures::avx512cd, Leaf::k7Sub0, Reg::kEbx, 28, Gate::kAvx512},
    {"AVX512VBMI", &CpuFeatures::avx512vbmi, Leaf::k7Sub0, Reg::kEcx, 1, Gate::kAvx512},
    {"AVX512VBMI2", &CpuFeatures::avx512vbmi2, Leaf::k7Sub0, Reg::kEcx, 6, Gate::kAvx512},
    {"AVX512VNNI", &CpuFeatures::avx512vnni, Leaf::k7Sub0, Reg::kEcx, 11, Gate::kAvx512},
    {"AVX512BITALG", &CpuFeatures::avx512bitalg, Leaf::k7Sub0, Reg::kEcx, 12, Gate::kAvx512},
    {"AVX512VPOPCNTDQ", &CpuFeatures::avx512vpopcntdq, Leaf::k7Sub0, Reg::kEcx, 14,
     Gate::kAvx512},
    {"AVX512_BF16", &CpuFeatures::avx512_bf16, Leaf::k7Sub1, Reg::kEax, 5, Gate::kAvx512},
    {"AVX512_FP16", &CpuFeatures::avx512_fp16, Leaf::k7Sub0, Reg::kEdx, 23, Gate::kAvx512},
    {"AVX512_4VNNIW", &CpuFeatures::avx512_4vnniw, Leaf::k7Sub0, Reg::kEdx, 2, Gate::kAvx512},
    {"AVX512_4FMAPS", &CpuFeatures::avx512_4fmaps, Leaf::k7Sub0, Reg::kEdx, 3, Gate::kAvx512},
    {"AVX512_VP2INTERSECT", &CpuFeatures::avx512_vp2intersect, Leaf::k7Sub0, Reg::kEdx, 8,
     Gate::kAvx512},
    {"APX", &CpuFeatures::apx, Leaf::k7Sub1, Reg::kEdx, 21, Gate::kNone},
    {"GFNI", &CpuFeatures::gfni, Leaf::k7Sub0, Reg::kEcx, 8, Gate::kAvx},
    {"VAES", &CpuFeatures::vaes, Leaf::k7Sub0, Reg::kEcx, 9, Gate::kAvx},
    {"VPCLMULQDQ", &CpuFeatures::vpclmulqdq, Leaf::k7Sub0, Reg::kEcx, 10, Gate::kAvx},
    {"SHA", &CpuFeatures::sha, Leaf::k7Sub0, Reg::kEbx, 29, Gate::kNone},
    {"RDPID", &CpuFeatures::rdpid, Leaf::k7Sub0, Reg::kEcx, 22, Gate::kNone},
    {"WAITPKG", &CpuFeatures::waitpkg, Leaf::k7Sub0, Reg::kEcx, 5, Gate::kNone},
    {"MOVDIRI", &CpuFeatures::movdiri, Leaf::k7Sub0, Reg::kEcx, 27, Gate::kNone},
    {"MOVDIR64B", &CpuFeatures::movdir64b, Leaf::k7Sub0, Reg::kEcx, 28, Gate::kNone},
    {"SERIALIZE", &CpuFeatures::serialize, Leaf::k7Sub0, Reg::kEdx, 14, Gate::kNone},
    {"TSXLDTRK", &CpuFeatures::tsxldtrk, Leaf::k7Sub0, Reg::kEdx, 16, Gate::kNone},
    {"PKU", &CpuFeatures::pku, Leaf::k7Sub0, Reg::kEcx, 3, Gate::kNone},
    {"OSPKE", &CpuFeatures::ospke, Leaf::k7Sub0, Reg::kEcx, 4, Gate::kNone},
    {"SGX", &CpuFeatures::sgx, Leaf::k7Sub0, Reg::kEbx, 2, Gate::kNone},
    {"CLWB", &CpuFeatures::clwb, Leaf::k7Sub0, Reg::kEbx, 24, Gate::kNone},
    {"CLFLUSHOPT", &CpuFeatures::clflushopt, Leaf::k7Sub0, Reg::kEbx, 23, Gate::kNone},
    {"AMX_TILE", &CpuFeatures::amx_tile, Leaf::k7Sub0, Reg::kEdx, 24, Gate::kNone},
    {"AMX_INT8", &CpuFeatures::amx_int8, Leaf::k7Sub0, Reg::kEdx, 25, Gate::kNone},
    {"AMX_BF16", &CpuFeatures::amx_bf16, Leaf::k7Sub0, Reg::kEdx, 22, Gate::kNone},
    {"AMX_FP16", &CpuFeatures::amx_fp16, Leaf::k7Sub1, Reg::kEax, 21, Gate::kNone},
    {"CET_IBT", &CpuFeatures::cet_ibt, Leaf::k7Sub0, Reg::kEdx, 20, Gate::kNone},
    {"CET_SHSTK", &CpuFeatures::cet_shstk, Leaf::k7Sub0, Reg::kEcx, 7, Gate::kNone},
    {"FSRM", &CpuFeatures::fsrm, Leaf::k7Sub0, Reg::kEdx, 4, Gate::kNone},
    {"HRESET", &CpuFeatures::hreset, Leaf::k7Sub1, Reg::kEax, 22, Gate::kNone},
    {"UINTR", &CpuFeatures::uintr, Leaf::k7Sub0, Reg::kEdx, 5, Gate::kNone},
}};

constexpr std::size_t kAvx10Row = 18;
constexpr std::size_t kFirstAvx512Row = 19;
constexpr std::size_t kLastAvx512Row = 36;

constexpr std::uint32_t kExtendedBase = 0x80000000u;
constexpr std::uint32_t kBrandFirstLeaf = 0x80000002u;
constexpr std::uint32_t kBrandLastLeaf = 0x80000004u;
constexpr std::uint32_t kExtendedFeatureLeaf = 0x80000001u;
constexpr std::uint32_t kAvx10Leaf = 0x24;

// Leaf 1 ECX: OSXSAVE (the OS uses XSAVE, so XGETBV is allowed) and AVX.
constexpr std::uint32_t kOsxsaveBit = 27;
constexpr std::uint32_t kAvxBit = 28;
// XCR0: SSE and AVX state; plus opmask, ZMM0..15 upper halves, ZMM16..31.
constexpr std::uint64_t kXcr0AvxState = 0x06;
constexpr std::uint64_t kXcr0Avx512State = 0xE6;

constexpr bool bit_set(std::uint32_t value, std::uint32_t bit) { return ((value >> bit) & 1u) != 0; }

std::uint32_t pick(const CpuidRegs& regs, Reg reg) {
  switch (reg) {
    case Reg::kEax: return regs.eax;
    case Reg::kEbx: return regs.ebx;
    case Reg::kEcx: return regs.ecx;
    case Reg::kEdx: return regs.edx;
  }
  return 0;
}

class ProcessorCpuid final : public CpuidSource {
 public:
  CpuidRegs cpuid(std::uint32_t leaf, std::uint32_t subleaf) const override {
    std::uint32_t regs[4];
    x86::cpuid(leaf, subleaf, regs);
    return {regs[0], regs[1], regs[2], regs[3]};
  }
  std::uint64_t xcr0() const override { return x86::xgetbv(0); }
};

}  // namespace

const CpuidSource& processor_cpuid() {
  static const ProcessorCpuid source;
  return source;
}

std::string decode_brand_string(const CpuidSource& source) {
  std::string brand;
  if (source.cpuid(kExtendedBase, 0).eax < kBrandLastLeaf) return brand;
  for (std::uint32_t leaf = kBrandFirstLeaf; leaf <= kBrandLastLeaf; ++leaf) {
    const CpuidRegs regs = source.cpuid(leaf, 0);
    for (const std::uint32_t word : {regs.eax, regs.ebx, regs.ecx, regs.edx}) {
      for (int byte = 0; byte < 4; ++byte) {
        const char c = static_cast<char>((word >> (8 * byte)) & 0xFFu);
        if (c == '\0') return brand;
        brand.push_back(c);
      }
    }
  }
  return brand;
}

CpuVendor vendor_from_brand(std::string_view brand) {
  if (brand.find("Intel") != std::string_view::npos) return CpuVendor::kIntel;
  if (brand.find("AMD") != std::string_view::npos) return CpuVendor::kAmd;
  return CpuVendor::kOther;
}

CpuInfo decode_cpu_info(const CpuidSource& source) {
  CpuInfo info;
  info.brand = decode_brand_string(source);
  info.vendor = vendor_from_brand(info.brand);
  const std::uint32_t eax = source.cpuid(1, 0).eax;
  info.family = (eax >> 8) & 0xFu;
  info.model = ((eax >> 16) & 0xFu) * 16 + ((eax >> 4) & 0xFu);
  return info;
}

CpuSignature decode_cpu_signature(const CpuidSource& source) {
  CpuSignature signature;
  const CpuidRegs leaf0 = source.cpuid(0, 0);
  std::string id;
  for (const std::uint32_t reg : {leaf0.ebx, leaf0.edx, leaf0.ecx}) {
    for (int shift = 0; shift < 32; shift += 8) id.push_back(static_cast<char>((reg >> shift) & 0xFFu));
  }
  // No CPUID (or a zeroed answer) leaves zero bytes, which name no vendor.
  signature.vendor_id = id.substr(0, id.find('\0'));
  if (leaf0.eax < 1) return signature;
  const std::uint32_t eax = source.cpuid(1, 0).eax;
  const std::uint32_t base_family = (eax >> 8) & 0xFu;
  const std::uint32_t base_model = (eax >> 4) & 0xFu;
  signature.stepping = eax & 0xFu;
  signature.family = base_family == 0xF ? base_family + ((eax >> 20) & 0xFFu) : base_family;
  signature.model =
      base_family == 0x6 || base_family == 0xF ? ((eax >> 16) & 0xFu) * 16 + base_model : base_model;
  return signature;
}

CpuFeatures decode_cpu_features(const CpuidSource& source) {
  const std::uint32_t max_leaf = source.cpuid(0, 0).eax;
  const std::uint32_t max_extended_leaf = source.cpuid(kExtendedBase, 0).eax;

  const CpuidRegs leaf1 = source.cpuid(1, 0);
  // The register state counts only if the OS enabled XSAVE; XGETBV faults otherwise.
  std::uint64_t xcr0 = 0;
  if (bit_set(leaf1.ecx, kOsxsaveBit) && bit_set(leaf1.ecx, kAvxBit)) xcr0 = source.xcr0() & 0xFFu;
  const bool os_avx_state = (xcr0 & kXcr0AvxState) == kXcr0AvxState;
  const bool os_avx512_state = (xcr0 & kXcr0Avx512State) == kXcr0Avx512State;

  CpuidRegs leaf7_0;
  CpuidRegs leaf7_1;
  if (max_leaf >= 7) {
    leaf7_0 = source.cpuid(7, 0);
    leaf7_1 = source.cpuid(7, 1);
  }
  CpuidRegs extended1;
  if (max_extended_leaf >= kExtendedFeatureLeaf) extended1 = source.cpuid(kExtendedFeatureLeaf, 0);

  CpuFeatures features;
  for (const FeatureRow& row : kFeatureTable) {
    const CpuidRegs* regs = &leaf1;
    switch (row.leaf) {
      case Leaf::k1: regs = &leaf1; break;
      case Leaf::k7Sub0: regs = &leaf7_0; break;
      case Leaf::k7Sub1: regs = &leaf7_1; break;
      case Leaf::kExt1: regs = &extended1; break;
    }
    bool gate_open = true;
    if (row.gate == Gate::kAvx) gate_open = os_avx_state;
    if (row.gate == Gate::kAvx512) gate_open = os_avx512_state;
    features.*row.flag = gate_open && bit_set(pick(*regs, row.reg), row.bit);
  }

  if (features.avx10 && max_leaf >= kAvx10Leaf) {
    const std::uint32_t ebx = source.cpuid(kAvx10Leaf, 0).ebx;
    features.avx10_version = ebx & 0xFFu;
    if (bit_set(ebx, 18)) {
      features.avx10_vector_length = 3;
    } else if (bit_set(ebx, 17)) {
      features.avx10_vector_length = 2;
    } else if (bit_set(ebx, 16)) {
      features.avx10_vector_length = 1;
    }
  }
  return features;
}

std::string cpu_feature_list(const CpuFeatures& features) {
  std::string list;
  for (std::size_t i = 0; i < kFeatureTable.size(); ++i) {
    const FeatureRow& row = kFeatureTable[i];
    if (features.avx10 && i >= kFirstAvx512Row && i <= kLastAvx512Row) continue;
    if (!(features.*row.flag)) continue;
    if (!list.empty()) list.push_back(' ');
    list.append(row.name);
    if (i == kAvx10Row) {
      if (features.avx10_version != 0) {
        list.push_back('.');
        list.append(std::to_string(features.avx10_version));
      }
      switch (features.avx10_vector_length) {
        case 1: list += "-128"; break;
        case 2: list += "-256"; break;
        case 3: list += "-512"; break;
        default: break;
      }
    }
  }
  return list;
}

std::string cpu_brand_string() { return decode_brand_string(processor_cpuid()); }

CpuInfo identify_cpu() { return decode_cpu_info(processor_cpuid()); }

CpuSignature read_cpu_signature() { return decode_cpu_signature(processor_cpuid()); }

CpuFeatures read_cpu_features() { return decode_cpu_features(processor_cpuid()); }

std::string cpu_feature_list() { return cpu_feature_list(read_cpu_features()); }

}  // namespace platform
