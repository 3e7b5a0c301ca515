#include "platform/console.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(CursorUp, SequenceAndConsoleRow) {
  // 0 lines: no sequence at all.
  EXPECT_EQ(cursor_up_sequence(0), "");
  EXPECT_EQ(cursor_up_sequence(7), "\033[7F");
  EXPECT_EQ(cursor_up_sequence(4'294'967'295u), "\033[4294967295F");
  // The console route stops at the top row.
  EXPECT_EQ(row_after_cursor_up(3, 7), 0u);
  EXPECT_EQ(row_after_cursor_up(7, 7), 0u);
  EXPECT_EQ(row_after_cursor_up(10, 7), 3u);
  EXPECT_EQ(row_after_cursor_up(0, 1), 0u);
}

}  // namespace
}  // namespace platform
