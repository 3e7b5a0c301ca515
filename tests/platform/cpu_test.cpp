#include "platform/cpu.h"

#include <gtest/gtest.h>

#include "tests/fakes/captured_cpus.h"

namespace platform {
namespace {

bool listed(const CpuFeatures& f, std::string_view name) {
  std::string list(" ");
  list.append(cpu_feature_list(f)).append(" ");
  std::string word(" ");
  word.append(name).append(" ");
  return list.find(word) != std::string::npos;
}

TEST(CpuFeatures, DecodesCapturedProcessors) {
  // Intel hybrid without AVX-512: AVX state only.
  EXPECT_EQ(cpu_feature_list(decode_cpu_features(fakes::arrow_lake())),
            "MMX SSE SSE2 SSE3 SSSE3 SSE4.1 SSE4.2 POPCNT AES FMA RDRAND BMI1 BMI2 LZCNT AVX AVX2 "
            "GFNI VAES VPCLMULQDQ SHA RDPID WAITPKG MOVDIRI MOVDIR64B SERIALIZE PKU CLWB "
            "CLFLUSHOPT CET_IBT CET_SHSTK FSRM HRESET UINTR");
  // AMD Zen 4 with AVX-512 state.
  EXPECT_EQ(cpu_feature_list(decode_cpu_features(fakes::amd_zen4())),
            "MMX SSE SSE2 SSE3 SSSE3 SSE4.1 SSE4.2 SSE4a POPCNT AES FMA RDRAND BMI1 BMI2 LZCNT "
            "AVX AVX2 AVX512F AVX512BW AVX512VL AVX512DQ AVX512IFMA AVX512CD AVX512VBMI "
            "AVX512VBMI2 AVX512VNNI AVX512BITALG AVX512VPOPCNTDQ AVX512_BF16 GFNI VAES "
            "VPCLMULQDQ SHA RDPID CLWB CLFLUSHOPT CET_SHSTK FSRM");
  // SSE-only part without OSXSAVE: XGETBV would fault there, so it must not run.
  const fakes::FakeCpuid athlon = fakes::athlon_xp();
  EXPECT_EQ(cpu_feature_list(decode_cpu_features(athlon)), "MMX SSE");
  EXPECT_EQ(athlon.xcr0_reads(), 0);
  // Nothing answered, nothing listed.
  EXPECT_EQ(cpu_feature_list(decode_cpu_features(fakes::FakeCpuid{})), "");
}

TEST(CpuFeatures, OsxsaveClearHidesEveryStateGatedFlag) {
  fakes::FakeCpuid cpu = fakes::amd_zen4();
  cpu.at(0x1).ecx &= ~(1u << 27);
  cpu.at(0x7, 0).edx |= (1u << 22) | (1u << 24) | (1u << 25);  // AMX_BF16, AMX_TILE, AMX_INT8
  cpu.at(0x7, 1).edx |= 1u << 19;                                // AVX10
  const CpuFeatures f = decode_cpu_features(cpu);
  EXPECT_EQ(cpu.xcr0_reads(), 0);
  // FMA and AMX follow their processor bits alone; AVX, GFNI, VAES, ... need the state.
  EXPECT_EQ(cpu_feature_list(f),
            "MMX SSE SSE2 SSE3 SSSE3 SSE4.1 SSE4.2 SSE4a POPCNT AES FMA RDRAND BMI1 BMI2 LZCNT "
            "SHA RDPID CLWB CLFLUSHOPT AMX_TILE AMX_INT8 AMX_BF16 CET_SHSTK FSRM");
  EXPECT_FALSE(f.avx10);
}

TEST(CpuFeatures, Xcr0StateGatesAvxAndAvx512) {
  fakes::FakeCpuid cpu = fakes::amd_zen4();
  cpu.set_xcr0(0x07);  // SSE and AVX state only
  CpuFeatures f = decode_cpu_features(cpu);
  EXPECT_TRUE(f.avx && f.avx2 && f.gfni);
  EXPECT_EQ(cpu_feature_list(f).find("AVX512"), std::string::npos);
  cpu.set_xcr0(0x2E7);  // plus opmask and ZMM; bits above the low byte do not matter
  EXPECT_TRUE(decode_cpu_features(cpu).avx512f);
  cpu.set_xcr0(0xE5);  // ZMM state without SSE state enables neither
  f = decode_cpu_features(cpu);
  EXPECT_FALSE(f.avx || f.avx512f);
}

TEST(CpuFeatures, LeavesAboveTheHighestAreNotRead) {
  fakes::FakeCpuid cpu = fakes::amd_zen4();
  cpu.at(0x0).eax = 6;
  CpuFeatures f = decode_cpu_features(cpu);
  EXPECT_TRUE(f.avx && f.sse4a);
  EXPECT_FALSE(f.avx2 || f.bmi1 || f.avx512f || f.fsrm);
  cpu.at(0x80000000).eax = 0x80000000;
  f = decode_cpu_features(cpu);
  EXPECT_FALSE(f.sse4a || f.lzcnt);
}

TEST(CpuFeatureList, Avx10ReplacesTheAvx512Names) {
  fakes::FakeCpuid cpu = fakes::amd_zen4();
  cpu.at(0x7, 1).edx |= 1u << 19;
  cpu.at(0x0).eax = 0x24;
  cpu.set(0x24, {0, 0x00020001, 0, 0});  // version 1, 256-bit
  CpuFeatures f = decode_cpu_features(cpu);
  EXPECT_TRUE(listed(f, "AVX10.1-256"));
  EXPECT_EQ(cpu_feature_list(f).find("AVX512"), std::string::npos);
  EXPECT_TRUE(f.avx512f);  // the flags stay; only the list groups them
  cpu.set(0x24, {0, 0x00070002, 0, 0});  // version 2, every width bit: the widest wins
  EXPECT_TRUE(listed(decode_cpu_features(cpu), "AVX10.2-512"));
  cpu.at(0x0).eax = 0x23;  // leaf 0x24 out of reach: plain AVX10
  f = decode_cpu_features(cpu);
  EXPECT_TRUE(listed(f, "AVX10"));
  EXPECT_EQ(f.avx10_version, 0u);
  EXPECT_EQ(f.avx10_vector_length, 0u);

  CpuFeatures g;
  g.avx10 = g.avx512f = g.avx512_vp2intersect = g.apx = true;
  EXPECT_EQ(cpu_feature_list(g), "AVX10 APX");
  g.avx10 = false;
  EXPECT_EQ(cpu_feature_list(g), "AVX512F AVX512_VP2INTERSECT APX");
}

TEST(CpuBrand, AssemblesLeaves80000002To4) {
  EXPECT_EQ(decode_brand_string(fakes::arrow_lake()), "Intel(R) Core(TM) Ultra 5 245K");
  EXPECT_EQ(decode_brand_string(fakes::athlon_xp()), "AMD Athlon(tm) XP 2200+");
  fakes::FakeCpuid cpu;
  cpu.set_brand("            Intel(R) Pentium(R) 4 CPU 3.00GHz  ");  // spaces stay
  EXPECT_EQ(decode_brand_string(cpu), "            Intel(R) Pentium(R) 4 CPU 3.00GHz  ");
  cpu.set_brand(std::string(48, 'x'));  // no terminating zero inside the leaves
  EXPECT_EQ(decode_brand_string(cpu), std::string(48, 'x'));
  cpu.set_brand(std::string("AMD\0Ryzen", 9));  // ends at the first zero
  EXPECT_EQ(decode_brand_string(cpu), "AMD");
  cpu.at(0x80000000).eax = 0x80000003;
  EXPECT_EQ(decode_brand_string(cpu), "");
}

TEST(CpuInfo, VendorFamilyAndModel) {
  EXPECT_EQ(vendor_from_brand("AMD-compatible Intel part"), CpuVendor::kIntel);
  EXPECT_EQ(vendor_from_brand("AMD"), CpuVendor::kAmd);
  EXPECT_EQ(vendor_from_brand("GENUINE INTEL"), CpuVendor::kOther);
  EXPECT_EQ(vendor_from_brand(""), CpuVendor::kOther);
  // Extended family ignored, extended model always added.
  fakes::FakeCpuid cpu;
  cpu.set(0x1, {0x00A20F12, 0, 0, 0});
  const CpuInfo info = decode_cpu_info(cpu);
  EXPECT_EQ(info.family, 0xFu);
  EXPECT_EQ(info.model, 0x21u);
  const CpuInfo arl = decode_cpu_info(fakes::arrow_lake());
  EXPECT_EQ(arl.vendor, CpuVendor::kIntel);
  EXPECT_EQ(arl.model, 0xC6u);
}

TEST(CpuSignature, DisplayFamilyModelSteppingAndVendorId) {
  struct Case {
    const char* name;
    fakes::FakeCpuid cpu;
    const char* vendor;
    std::uint32_t family, model, stepping;
  } cases[] = {
      // Family 6: the extended model counts, the extended family does not.
      {"arrow lake", fakes::arrow_lake(), "GenuineIntel", 6, 0xC6, 2},
      // Family 0xF: both extended fields count (this Zen 4 is family 0x19, model 0x11).
      {"zen 4", fakes::amd_zen4(), "AuthenticAMD", 0x19, 0x11, 1},
      {"athlon xp", fakes::athlon_xp(), "AuthenticAMD", 6, 8, 0},
  };
  for (const Case& c : cases) {
    const CpuSignature s = decode_cpu_signature(c.cpu);
    EXPECT_EQ(s.vendor_id, c.vendor) << c.name;
    EXPECT_EQ(s.family, c.family) << c.name;
    EXPECT_EQ(s.model, c.model) << c.name;
    EXPECT_EQ(s.stepping, c.stepping) << c.name;
  }
  // Any other family keeps its base model, whatever the extended field says.
  fakes::FakeCpuid family5;
  family5.set(0x0, {1, 0, 0, 0}).set(0x1, {0x000F0543, 0, 0, 0});
  EXPECT_EQ(decode_cpu_signature(family5).model, 4u);
  // No CPUID answers: no vendor, all zero.
  const CpuSignature none = decode_cpu_signature(fakes::FakeCpuid{});
  EXPECT_EQ(none.vendor_id, "");
  EXPECT_EQ(none.family + none.model + none.stepping, 0u);
}

}  // namespace
}  // namespace platform
