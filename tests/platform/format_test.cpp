#include "platform/format.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>

namespace {

struct FormatCase {
  std::uint64_t n;
  const char* text;
};

void PrintTo(const FormatCase& c, std::ostream* os) { *os << c.n; }

class FormatBytesTest : public testing::TestWithParam<FormatCase> {};

TEST_P(FormatBytesTest, MatchesExpectedText) {
  EXPECT_EQ(platform::format_bytes(GetParam().n), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Boundaries, FormatBytesTest,
    testing::Values(FormatCase{0, "0 B"}, FormatCase{1023, "1023 B"},
                    FormatCase{1024, "1.00 KiB"}, FormatCase{1536, "1.50 KiB"},
                    // 1023.999 KiB stays below the next prefix and rounds up in print
                    FormatCase{1048575, "1024.00 KiB"},
                    FormatCase{std::uint64_t{1} << 63, "8.00 EiB"},
                    FormatCase{UINT64_MAX, "16.00 EiB"}));

class FormatSiTest : public testing::TestWithParam<FormatCase> {};

TEST_P(FormatSiTest, MatchesExpectedText) {
  EXPECT_EQ(platform::format_si(GetParam().n, "Hz"), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Boundaries, FormatSiTest,
    testing::Values(FormatCase{0, "0 Hz"}, FormatCase{64, "64 Hz"},
                    FormatCase{999, "999 Hz"}, FormatCase{1000, "1.00 KHz"},
                    FormatCase{999999, "1000.00 KHz"},
                    FormatCase{3579545, "3.58 MHz"},
                    FormatCase{10000000, "10.00 MHz"},
                    FormatCase{UINT64_MAX, "18.45 EHz"}));

}  // namespace
