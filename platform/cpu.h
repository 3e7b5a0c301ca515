#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

/// Processor maker, as read from the brand string.
enum class CpuVendor : std::uint32_t { kIntel = 0, kAmd = 1, kOther = 2 };

/// What the processor says it is.
struct CpuInfo {
  std::string brand;                       ///< as `cpu_brand_string` returns it
  CpuVendor vendor = CpuVendor::kOther;
  std::uint32_t family = 0;                ///< base family only (leaf 1 EAX bits 8..11)
  std::uint32_t model = 0;                 ///< extended model × 16 + model, for every family
};

/// The processor's identity as CPUID states it, for records rather than rules.
struct CpuSignature {
  std::string vendor_id;       ///< leaf 0 EBX, EDX, ECX ("GenuineIntel"); empty without CPUID
  std::uint32_t family = 0;    ///< display family: base, plus extended when base is 0xF
  std::uint32_t model = 0;     ///< display model: extended model × 16 + model for families 6 and 0xF
  std::uint32_t stepping = 0;  ///< leaf 1 EAX bits 0..3
};

/// Instruction-set features, one flag per name of the feature list, in its
/// order. A flag is set only when the processor reports it and, for the vector
/// extensions, the operating system saves the matching register state.
struct CpuFeatures {
  bool mmx = false;
  bool sse = false;
  bool sse2 = false;
  bool sse3 = false;
  bool ssse3 = false;
  bool sse4_1 = false;
  bool sse4_2 = false;
  bool sse4a = false;
  bool popcnt = false;
  bool aes = false;
  bool fma = false;
  bool rdrand = false;
  bool bmi1 = false;
  bool bmi2 = false;
  bool lzcnt = false;
  bool xop = false;
  bool avx = false;
  bool avx2 = false;
  bool avx10 = false;
  bool avx512f = false;
  bool avx512bw = false;
  bool avx512vl = false;
  bool avx512dq = false;
  bool avx512ifma = false;
  bool avx512pf = false;
  bool avx512er = false;
  bool avx512cd = false;
  bool avx512vbmi = false;
  bool avx512vbmi2 = false;
  bool avx512vnni = false;
  bool avx512bitalg = false;
  bool avx512vpopcntdq = false;
  bool avx512_bf16 = false;
  bool avx512_fp16 = false;
  bool avx512_4vnniw = false;
  bool avx512_4fmaps = false;
  bool avx512_vp2intersect = false;
  bool apx = false;
  bool gfni = false;
  bool vaes = false;
  bool vpclmulqdq = false;
  bool sha = false;
  bool rdpid = false;
  bool waitpkg = false;
  bool movdiri = false;
  bool movdir64b = false;
  bool serialize = false;
  bool tsxldtrk = false;
  bool pku = false;
  bool ospke = false;
  bool sgx = false;
  bool clwb = false;
  bool clflushopt = false;
  bool amx_tile = false;
  bool amx_int8 = false;
  bool amx_bf16 = false;
  bool amx_fp16 = false;
  bool cet_ibt = false;
  bool cet_shstk = false;
  bool fsrm = false;
  bool hreset = false;
  bool uintr = false;
  std::uint32_t avx10_version = 0;        ///< 0 when not reported
  std::uint32_t avx10_vector_length = 0;  ///< 0 none, 1: 128, 2: 256, 3: 512 bits
};

/// The four registers one CPUID execution returns.
struct CpuidRegs {
  std::uint32_t eax = 0;
  std::uint32_t ebx = 0;
  std::uint32_t ecx = 0;
  std::uint32_t edx = 0;
};

/// Where CPUID and XGETBV answers come from: the processor, or a test's table.
class CpuidSource {
 public:
  virtual ~CpuidSource() = default;
  /// The registers of CPUID for `leaf` and `subleaf`.
  virtual CpuidRegs cpuid(std::uint32_t leaf, std::uint32_t subleaf) const = 0;
  /// XCR0 (XGETBV with ECX = 0). Asked only when leaf 1 reports OSXSAVE.
  virtual std::uint64_t xcr0() const = 0;
};

/// The processor the calling thread runs on; all zero where there is no CPUID.
const CpuidSource& processor_cpuid();

/// Brand string from leaves 0x80000002..4, up to its first zero byte, spaces
/// kept; empty when the highest extended leaf is below 0x80000004.
std::string decode_brand_string(const CpuidSource& source);

/// Intel when `brand` contains "Intel", else AMD when it contains "AMD"
/// (case-sensitive), else kOther.
CpuVendor vendor_from_brand(std::string_view brand);

/// Brand, vendor, family and model from `source`.
CpuInfo decode_cpu_info(const CpuidSource& source);

/// Vendor identification and display family, model and stepping from `source`.
CpuSignature decode_cpu_signature(const CpuidSource& source);

/// The feature flags `source` reports, gated by the XCR0 register state.
CpuFeatures decode_cpu_features(const CpuidSource& source);

/// Names of the set flags in list order, separated by single spaces; the
/// AVX-512 names give way to one "AVX10[.v][-bits]" entry when AVX10 is set.
/// Empty when nothing is set.
std::string cpu_feature_list(const CpuFeatures& features);

/// `decode_brand_string` of this processor.
std::string cpu_brand_string();

/// `decode_cpu_info` of this processor.
CpuInfo identify_cpu();

/// `decode_cpu_signature` of this processor.
CpuSignature read_cpu_signature();

/// `decode_cpu_features` of this processor.
CpuFeatures read_cpu_features();

/// `cpu_feature_list` of this processor's features.
std::string cpu_feature_list();

}  // namespace platform
