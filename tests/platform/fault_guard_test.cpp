#include "platform/fault_guard.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <thread>
#include <type_traits>
#include <vector>

#if !defined(_WIN32)
#include <signal.h>
#endif

namespace {

// ud2 with GCC and clang on x86-64.
[[noreturn]] void illegal_instruction() { __builtin_trap(); }

// The guard over a callable, for these tests; the bodies below hold nothing
// with a destructor while they fault.
template <class F>
bool run_catching_illegal_instruction(F&& body) {
  using Body = std::remove_reference_t<F>;
  return platform::run_catching_illegal_instruction([](void* f) { (*static_cast<Body*>(f))(); }, &body);
}

TEST(FaultGuard, CatchesIllegalInstructionsAndOtherwiseRunsTheBody) {
  int runs = 0;
  EXPECT_TRUE(run_catching_illegal_instruction([&] { ++runs; }));
  EXPECT_EQ(runs, 1);

  // Again and again: the first catch must not leave the next fault undeliverable.
  for (int i = 0; i < 3; ++i) {
    EXPECT_FALSE(run_catching_illegal_instruction([&] {
      ++runs;
      illegal_instruction();
    }));
  }
  EXPECT_EQ(runs, 4);

  // Nested: the inner guard catches its own fault, the outer one runs on and
  // then catches a fault of its own.
  bool inner = true;
  bool after_inner = false;
  EXPECT_TRUE(run_catching_illegal_instruction([&] {
    inner = run_catching_illegal_instruction([] { illegal_instruction(); });
    after_inner = true;
  }));
  EXPECT_FALSE(inner);
  EXPECT_TRUE(after_inner);
  EXPECT_FALSE(run_catching_illegal_instruction([&] {
    EXPECT_TRUE(run_catching_illegal_instruction([] {}));
    illegal_instruction();
  }));
}

TEST(FaultGuard, EachThreadCatchesItsOwnFaults) {
  std::atomic<int> caught{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 200; ++i) {
        if (!run_catching_illegal_instruction([] { illegal_instruction(); })) ++caught;
        if (!run_catching_illegal_instruction([] {})) caught += 1000;
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(caught.load(), 800);
}

#if GTEST_HAS_DEATH_TEST && !defined(_WIN32)
TEST(FaultGuardDeathTest, OutsideEveryGuardTheSignalStillEndsTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const auto install = [] { (void)run_catching_illegal_instruction([] {}); };
  // A fault, and a signal sent by someone.
  EXPECT_EXIT((install(), illegal_instruction()), testing::KilledBySignal(SIGILL), "");
  EXPECT_EXIT((install(), std::raise(SIGILL), std::exit(0)), testing::KilledBySignal(SIGILL), "");
}

TEST(FaultGuardDeathTest, InsideAGuardOnlyTheProcessorsOwnFaultIsCaught) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // Sent from outside (kill -ILL, raise): the default action, not a recovery
  // that would blame the kernels.
  EXPECT_EXIT(
      {
        (void)run_catching_illegal_instruction([] { std::raise(SIGILL); });
        std::exit(0);
      },
      testing::KilledBySignal(SIGILL), "");
  // Started with SIGILL blocked (the mask survives exec): the guard still
  // catches the fault instead of the kernel killing the process.
  EXPECT_EXIT(
      {
        sigset_t ill;
        sigemptyset(&ill);
        sigaddset(&ill, SIGILL);
        pthread_sigmask(SIG_BLOCK, &ill, nullptr);
        std::exit(run_catching_illegal_instruction([] { illegal_instruction(); }) ? 1 : 0);
      },
      testing::ExitedWithCode(0), "");
}
#endif

}  // namespace
