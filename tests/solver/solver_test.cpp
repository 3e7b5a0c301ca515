#include <gtest/gtest.h>

#include <memory>
#include <typeinfo>

#include "platform/cpu.h"
#include "solver/factory.h"
#include "solver/soft_gaussian.h"
#include "solver/standing_wave.h"

namespace solver {
namespace {

TEST(IsaNames, ExactComparisonOnly) {
  EXPECT_EQ(parse_isa("sse2"), IsaKind::kSse2);
  EXPECT_EQ(parse_isa("avx"), IsaKind::kAvx);
  EXPECT_EQ(parse_isa("avx2"), IsaKind::kAvx2);
  EXPECT_EQ(parse_isa("fma"), IsaKind::kFma);
  for (std::string_view bad : {"SSE2", "Avx", "avx ", " avx", "avx512", "", "fma3", "av"}) {
    EXPECT_FALSE(is_valid_isa(bad)) << bad;
  }
  EXPECT_FALSE(is_valid_isa(std::string_view("avx\0", 4)));
}

TEST(IsaSupport, MessagesFromTheFeatureFlags) {
  platform::CpuFeatures none;
  EXPECT_TRUE(check_isa_support("sse2", none).ok());
  EXPECT_EQ(check_isa_support("avx", none).message(), "avx support not detected\n");
  EXPECT_EQ(check_isa_support("avx2", none).message(), "avx2 support not detected\n");
  // The fma kernels also run AVX2 permutes, and only the AVX2 flag includes
  // the operating system's register-state test.
  EXPECT_EQ(check_isa_support("fma", none).message(),
            "fma support not detected\navx2 support not detected\n");
  platform::CpuFeatures fma_without_avx2;
  fma_without_avx2.fma = fma_without_avx2.avx = true;
  EXPECT_EQ(check_isa_support("fma", fma_without_avx2).message(), "avx2 support not detected\n");
  platform::CpuFeatures all;
  all.avx = all.avx2 = all.fma = true;
  for (const char* isa : {"sse2", "avx", "avx2", "fma"}) EXPECT_TRUE(check_isa_support(isa, all).ok());
  EXPECT_EQ(check_isa_support("avx512", all).message(), "unknown isa 'avx512'");
  EXPECT_EQ(check_isa_support("AVX").message(), "unknown isa 'AVX'");
  EXPECT_TRUE(check_isa_support("sse2").ok());
}

struct FactoryCase {
  const char* workload;
  const char* isa;
  const std::type_info* type;
};

class FactoryTest : public ::testing::TestWithParam<FactoryCase> {};

TEST_P(FactoryTest, BuildsTheSelectedClass) {
  const std::unique_ptr<Solver> solver = make_solver(GetParam().workload, GetParam().isa, 9);
  ASSERT_NE(solver, nullptr);
  const Solver& made = *solver;  // clang warns on a call inside typeid's operand
  EXPECT_EQ(typeid(made), *GetParam().type);
  EXPECT_EQ(solver->thread_index(), 9u);
  EXPECT_EQ(solver->updates_per_step(), 0u);  // no field memory yet
}

INSTANTIATE_TEST_SUITE_P(
    SelectionTable, FactoryTest,
    ::testing::Values(FactoryCase{"standing_wave", "sse2", &typeid(Sse2StandingWave)},
                      FactoryCase{"standing_wave", "avx", &typeid(AvxStandingWave)},
                      FactoryCase{"standing_wave", "avx2", &typeid(AvxStandingWave)},
                      FactoryCase{"standing_wave", "fma", &typeid(FmaStandingWave)},
                      FactoryCase{"soft_gaussian", "sse2", &typeid(Sse2SoftGaussian)},
                      FactoryCase{"soft_gaussian", "avx", &typeid(AvxSoftGaussian)},
                      FactoryCase{"soft_gaussian", "avx2", &typeid(Avx2SoftGaussian)},
                      FactoryCase{"soft_gaussian", "fma", &typeid(FmaSoftGaussian)}));

TEST(Factory, UnknownNamesGiveNothing) {
  EXPECT_EQ(make_solver("Standing_wave", "sse2", 0), nullptr);
  EXPECT_EQ(make_solver("standing_wave ", "sse2", 0), nullptr);
  EXPECT_EQ(make_solver("soft_gaussian", "SSE2", 0), nullptr);
  EXPECT_EQ(make_sse2_solver("soft-gaussian", 0), nullptr);
  EXPECT_TRUE(is_valid_workload("standing_wave"));
  EXPECT_TRUE(is_valid_workload("soft_gaussian"));
  for (const char* bad : {"Standing_wave", "standing_wave ", "standing", "", "soft_gaussian\n"}) {
    EXPECT_FALSE(is_valid_workload(bad)) << bad;
  }
}

}  // namespace
}  // namespace solver
