#include "platform/cpu.h"

#include <gtest/gtest.h>

#include "tests/fakes/captured_cpus.h"
#include "tests/fakes/fake_cpuid.h"

namespace platform {
namespace {

constexpr std::uint32_t kOsxsave = 1u << 27;

// Leaf 7.1 EDX bit 19 announces AVX10; leaf 0x24 EBX holds version and vector bits.
fakes::FakeCpuid with_avx10(fakes::FakeCpuid cpu, std::uint32_t leaf24_ebx, std::uint32_t max_leaf) {
  cpu.at(0x7, 1).edx |= 1u << 19;
  cpu.at(0x0).eax = max_leaf;
  cpu.set(0x24, {0, leaf24_ebx, 0, 0});
  return cpu;
}

TEST(CpuFeatures, DecodesCapturedProcessors) {
  // Intel hybrid without AVX-512: AVX state only.
  const CpuFeatures arl = decode_cpu_features(fakes::arrow_lake());
  EXPECT_TRUE(arl.avx);
  EXPECT_TRUE(arl.avx2);
  EXPECT_TRUE(arl.fma);
  EXPECT_FALSE(arl.avx512f);
  EXPECT_EQ(cpu_feature_list(arl),
            "MMX SSE SSE2 SSE3 SSSE3 SSE4.1 SSE4.2 POPCNT AES FMA RDRAND BMI1 BMI2 LZCNT AVX AVX2 "
            "GFNI VAES VPCLMULQDQ SHA RDPID WAITPKG MOVDIRI MOVDIR64B SERIALIZE PKU CLWB "
            "CLFLUSHOPT CET_IBT CET_SHSTK FSRM HRESET UINTR");

  // AMD Zen 4 with AVX-512 state enabled.
  EXPECT_EQ(cpu_feature_list(decode_cpu_features(fakes::amd_zen4())),
            "MMX SSE SSE2 SSE3 SSSE3 SSE4.1 SSE4.2 SSE4a POPCNT AES FMA RDRAND BMI1 BMI2 LZCNT "
            "AVX AVX2 AVX512F AVX512BW AVX512VL AVX512DQ AVX512IFMA AVX512CD AVX512VBMI "
            "AVX512VBMI2 AVX512VNNI AVX512BITALG AVX512VPOPCNTDQ AVX512_BF16 GFNI VAES "
            "VPCLMULQDQ SHA RDPID CLWB CLFLUSHOPT CET_SHSTK FSRM");

  // An SSE-only part: no SSE2, no leaf 7, no extended features.
  const fakes::FakeCpuid athlon = fakes::athlon_xp();
  const CpuFeatures old = decode_cpu_features(athlon);
  EXPECT_FALSE(old.sse2);
  EXPECT_EQ(cpu_feature_list(old), "MMX SSE");
  // Without OSXSAVE, XGETBV would fault: it must never run.
  EXPECT_EQ(athlon.xcr0_reads(), 0);
}

TEST(CpuFeatures, OsxsaveClearHidesEveryStateGatedFlag) {
  fakes::FakeCpuid cpu = fakes::amd_zen4();
  cpu.at(0x1).ecx &= ~kOsxsave;
  cpu.at(0x7, 0).edx |= (1u << 22) | (1u << 24) | (1u << 25);  // AMX_BF16, AMX_TILE, AMX_INT8
  cpu.at(0x7, 1).edx |= 1u << 19;                                // AVX10
  const CpuFeatures f = decode_cpu_features(cpu);
  EXPECT_EQ(cpu.xcr0_reads(), 0);
  EXPECT_FALSE(f.avx);
  EXPECT_FALSE(f.avx2);
  EXPECT_FALSE(f.gfni);
  EXPECT_FALSE(f.vaes);
  EXPECT_FALSE(f.vpclmulqdq);
  EXPECT_FALSE(f.avx10);
  EXPECT_FALSE(f.avx512f);
  EXPECT_FALSE(f.avx512_bf16);
  // FMA and the AMX names follow their processor bits alone.
  EXPECT_TRUE(f.fma);
  EXPECT_TRUE(f.amx_tile);
  EXPECT_TRUE(f.amx_int8);
  EXPECT_TRUE(f.amx_bf16);
  EXPECT_EQ(cpu_feature_list(f),
            "MMX SSE SSE2 SSE3 SSSE3 SSE4.1 SSE4.2 SSE4a POPCNT AES FMA RDRAND BMI1 BMI2 LZCNT "
            "SHA RDPID CLWB CLFLUSHOPT AMX_TILE AMX_INT8 AMX_BF16 CET_SHSTK FSRM");
}

TEST(CpuFeatures, Xcr0StateGatesAvxAndAvx512) {
  fakes::FakeCpuid cpu = fakes::amd_zen4();
  // SSE and AVX state only: AVX yes, no AVX-512 name.
  cpu.set_xcr0(0x07);
  CpuFeatures f = decode_cpu_features(cpu);
  EXPECT_TRUE(f.avx);
  EXPECT_TRUE(f.avx2);
  EXPECT_TRUE(f.gfni);
  EXPECT_FALSE(f.avx512f);
  EXPECT_FALSE(f.avx512_bf16);
  EXPECT_EQ(cpu_feature_list(f).find("AVX512"), std::string::npos);
  // All of opmask and ZMM state: both.
  cpu.set_xcr0(0xE7);
  f = decode_cpu_features(cpu);
  EXPECT_TRUE(f.avx);
  EXPECT_TRUE(f.avx512f);
  EXPECT_TRUE(f.avx512vl);
  // Bits above the low byte do not matter.
  cpu.set_xcr0(0x2E7);
  EXPECT_TRUE(decode_cpu_features(cpu).avx512f);
  // Upper ZMM state without SSE state enables neither.
  cpu.set_xcr0(0xE5);
  f = decode_cpu_features(cpu);
  EXPECT_FALSE(f.avx);
  EXPECT_FALSE(f.avx512f);
  // Opmask missing: AVX only.
  cpu.set_xcr0(0xC7);
  f = decode_cpu_features(cpu);
  EXPECT_TRUE(f.avx);
  EXPECT_FALSE(f.avx512f);
}

TEST(CpuFeatures, LeavesBeyondTheHighestAreNotRead) {
  // Leaf 7 present in the table but the highest standard leaf is 6.
  fakes::FakeCpuid cpu = fakes::amd_zen4();
  cpu.at(0x0).eax = 6;
  CpuFeatures f = decode_cpu_features(cpu);
  EXPECT_TRUE(f.avx);
  EXPECT_FALSE(f.avx2);
  EXPECT_FALSE(f.bmi1);
  EXPECT_FALSE(f.avx512f);
  EXPECT_FALSE(f.fsrm);
  EXPECT_TRUE(f.sse4a);
  // Highest extended leaf 0x80000000: no SSE4a or LZCNT.
  cpu.at(0x80000000).eax = 0x80000000;
  f = decode_cpu_features(cpu);
  EXPECT_FALSE(f.sse4a);
  EXPECT_FALSE(f.lzcnt);
  // A processor that answers nothing has no flags.
  EXPECT_EQ(cpu_feature_list(decode_cpu_features(fakes::FakeCpuid{})), "");
}

TEST(CpuFeatureList, Avx10ReplacesTheAvx512Names) {
  // Version 1, 256-bit vectors (EBX bit 17).
  CpuFeatures f = decode_cpu_features(with_avx10(fakes::amd_zen4(), 0x00020001, 0x24));
  EXPECT_TRUE(f.avx10);
  EXPECT_EQ(f.avx10_version, 1u);
  EXPECT_EQ(f.avx10_vector_length, 2u);
  EXPECT_EQ(cpu_feature_list(f),
            "MMX SSE SSE2 SSE3 SSSE3 SSE4.1 SSE4.2 SSE4a POPCNT AES FMA RDRAND BMI1 BMI2 LZCNT "
            "AVX AVX2 AVX10.1-256 GFNI VAES VPCLMULQDQ SHA RDPID CLWB CLFLUSHOPT CET_SHSTK FSRM");
  // Version 2 with all three width bits: the widest wins.
  f = decode_cpu_features(with_avx10(fakes::amd_zen4(), 0x00070002, 0x24));
  EXPECT_NE(cpu_feature_list(f).find(" AVX10.2-512 "), std::string::npos);
  // Only the 128-bit bit.
  f = decode_cpu_features(with_avx10(fakes::amd_zen4(), 0x00010001, 0x24));
  EXPECT_NE(cpu_feature_list(f).find(" AVX10.1-128 "), std::string::npos);
  // Highest standard leaf below 0x24: plain AVX10, integers 0.
  f = decode_cpu_features(with_avx10(fakes::amd_zen4(), 0x00020001, 0x23));
  EXPECT_EQ(f.avx10_version, 0u);
  EXPECT_EQ(f.avx10_vector_length, 0u);
  EXPECT_NE(cpu_feature_list(f).find(" AVX10 GFNI"), std::string::npos);
  EXPECT_EQ(cpu_feature_list(f).find("AVX512"), std::string::npos);
  // The AVX-512 flags themselves stay set; only the list groups them.
  EXPECT_TRUE(f.avx512f);

  // Pure list cases: first name without a leading space, APX written once.
  CpuFeatures g;
  g.sse2 = true;
  EXPECT_EQ(cpu_feature_list(g), "SSE2");
  g = {};
  g.avx10 = true;
  g.avx512f = true;
  g.avx512_vp2intersect = true;
  g.apx = true;
  g.avx10_version = 2;
  EXPECT_EQ(cpu_feature_list(g), "AVX10.2 APX");
  g.avx10 = false;
  EXPECT_EQ(cpu_feature_list(g), "AVX512F AVX512_VP2INTERSECT APX");
  EXPECT_EQ(cpu_feature_list(CpuFeatures{}), "");
}

TEST(CpuBrand, AssemblesLeaves80000002To4) {
  EXPECT_EQ(decode_brand_string(fakes::arrow_lake()), "Intel(R) Core(TM) Ultra 5 245K");
  EXPECT_EQ(decode_brand_string(fakes::athlon_xp()), "AMD Athlon(tm) XP 2200+");
  EXPECT_EQ(decode_brand_string(fakes::amd_zen4()), "AMD EPYC");
  // Leading and trailing spaces stay.
  fakes::FakeCpuid cpu;
  cpu.set_brand("            Intel(R) Pentium(R) 4 CPU 3.00GHz  ");
  EXPECT_EQ(decode_brand_string(cpu), "            Intel(R) Pentium(R) 4 CPU 3.00GHz  ");
  // All 48 bytes used: nothing is cut.
  const std::string full(48, 'x');
  cpu.set_brand(full);
  EXPECT_EQ(decode_brand_string(cpu), full);
  // The text ends at the first zero byte even when more bytes follow.
  cpu.set_brand(std::string("AMD\0Ryzen", 9));
  EXPECT_EQ(decode_brand_string(cpu), "AMD");
  // Highest extended leaf below 0x80000004: empty, whatever the leaves hold.
  cpu.set_brand("Intel");
  cpu.at(0x80000000).eax = 0x80000003;
  EXPECT_EQ(decode_brand_string(cpu), "");
  EXPECT_EQ(decode_brand_string(fakes::FakeCpuid{}), "");
}

TEST(CpuInfo, VendorFamilyAndModel) {
  // "Intel" wins over "AMD"; the search is case-sensitive.
  EXPECT_EQ(vendor_from_brand("AMD-compatible Intel part"), CpuVendor::kIntel);
  EXPECT_EQ(vendor_from_brand("Intel"), CpuVendor::kIntel);
  EXPECT_EQ(vendor_from_brand("AMD"), CpuVendor::kAmd);
  EXPECT_EQ(vendor_from_brand("GENUINE INTEL"), CpuVendor::kOther);
  EXPECT_EQ(vendor_from_brand("VIA Nano"), CpuVendor::kOther);
  EXPECT_EQ(vendor_from_brand(""), CpuVendor::kOther);

  // Extended family ignored, extended model always added.
  fakes::FakeCpuid cpu;
  cpu.set(0x1, {0x00A20F12, 0, 0, 0});
  CpuInfo info = decode_cpu_info(cpu);
  EXPECT_EQ(info.family, 0xFu);
  EXPECT_EQ(info.model, 0x21u);
  EXPECT_EQ(info.vendor, CpuVendor::kOther);

  info = decode_cpu_info(fakes::arrow_lake());
  EXPECT_EQ(info.vendor, CpuVendor::kIntel);
  EXPECT_EQ(info.family, 6u);
  EXPECT_EQ(info.model, 0xC6u);

  info = decode_cpu_info(fakes::athlon_xp());
  EXPECT_EQ(info.vendor, CpuVendor::kAmd);
  EXPECT_EQ(info.family, 6u);
  EXPECT_EQ(info.model, 8u);
}

}  // namespace
}  // namespace platform
