# End-to-end cases only the Windows build has, run under Wine: the facts the
# Windows timer calls report, and the timer rule on a system that claims to be
# Windows 7 (the default prefix) and one switched to Windows 10.

set(win_valid_tail "\n  valid result \n===============\nzelvo v[0-9.]+ standing_wave sse2\n[^\n]*\nfinal score: [0-9.]+ MGups\npress enter to exit\n$")

# Under Wine the performance counter runs at 10 MHz, which counts as TSC-derived,
# and NtQueryTimerResolution answers 1 ms (GetSystemTimeAdjustment would give 64 Hz).
# A Windows 7 system passes the rule whatever the processor.
zelvo_e2e_test(windows_timer_dump ARGS --timer-debug EXIT 0
               STDOUT_REGEX "^Fast timer: i?TSC\nunderlying frequency: 10\\.00 MHz\nreport frequency: 10\\.00 MHz\nCoarse timer: \nunderlying frequency: 1\\.00 KHz\nreport frequency: 1\\.00 KHz\n\ntsc info:\n.*\nFast timer is hwbot compliant\n$")

# On Windows 10 the rule looks at the processor: a TSC-derived timer passes only
# on an Intel model of at least 0x4E other than 0x4F. The expectation comes from
# the processor these tests run on; its brand string names the vendor.
set(win10_compliant FALSE)
if(EXISTS /proc/cpuinfo)
  file(STRINGS /proc/cpuinfo cpu_brand REGEX "^model name" LIMIT_COUNT 1)
  file(STRINGS /proc/cpuinfo cpu_model REGEX "^model[ \t]*:" LIMIT_COUNT 1)
  string(REGEX REPLACE "^model[ \t]*:[ \t]*" "" cpu_model "${cpu_model}")
  if(cpu_brand MATCHES "Intel" AND cpu_model GREATER_EQUAL 78 AND NOT cpu_model EQUAL 79)
    set(win10_compliant TRUE)
  endif()
endif()

# The Windows 10 prefix is made once, by a fixture, so no case pays for it.
add_test(NAME e2e.windows_prepare_win10 COMMAND ${ZELVO_WINE_RUN} --win10 --prepare)
set_tests_properties(e2e.windows_prepare_win10 PROPERTIES
                     FIXTURES_SETUP wine_win10 TIMEOUT 120 LABELS e2e)

block()
  list(APPEND CMAKE_CROSSCOMPILING_EMULATOR --win10)
  if(win10_compliant)
    zelvo_e2e_test(windows10_timer_dump ARGS --timer-debug EXIT 0
                   STDOUT_REGEX "\nFast timer is hwbot compliant\n$")
    zelvo_e2e_test(windows10_timer_rule ARGS -d 1 -s 64 -n 1 EXIT 0
                   STDOUT_REGEX "${win_valid_tail}")
    zelvo_e2e_test(windows10_timer_bypass ARGS -d 1 -s 64 -n 1 --bypass-timer-check EXIT 0
                   STDOUT_REGEX "${win_valid_tail}")
  else()
    zelvo_e2e_test(windows10_timer_dump ARGS --timer-debug EXIT 0
                   STDOUT_REGEX "\nFast timer is not compliant with HWBOT rules\nUse --bypass-timer-check to run regardless if you are sure that this is a detection error in terms of your windows version, processor, or timer\n$")
    # The run stops after the timer lines, before any worker starts.
    zelvo_e2e_test(windows10_timer_rule ARGS -d 1 -s 64 -n 1 EXIT 1
                   STDOUT_REGEX "\nFast Timer Frequency: 10\\.00 MHz \\(i?TSC\\)\nCoarse Timer Frequency: 1\\.00 KHz\npress enter to exit\n$"
                   STDERR_REGEX "^Fast Timer is not HWBOT compliant \\(fast timer source: i?TSC\\); aborting\nUse --bypass-timer-check to run regardless if you are sure that this is a detection error in terms of your windows version, processor, or timer\n==================\n  invalid result \n==================\nnot all threads produced a result\n$")
    # With the bypass: the warning box and two lines, then a normal valid run.
    zelvo_e2e_test(windows10_timer_bypass ARGS -d 1 -s 64 -n 1 --bypass-timer-check EXIT 0
                   STDOUT_REGEX "\nCoarse Timer Frequency: 1\\.00 KHz\nallocating fields.*${win_valid_tail}"
                   STDERR_REGEX "^===========\n  warning  \n===========\nFast timer is not compliant with HWBOT rules \\(fast timer source: i?TSC\\)\nCheck that this is a detection error in terms of your windows version, processor, or timer before submitting\n$")
  endif()
  foreach(variant e2e e2e.json)
    set_tests_properties(${variant}.windows10_timer_dump ${variant}.windows10_timer_rule
                         ${variant}.windows10_timer_bypass PROPERTIES FIXTURES_REQUIRED wine_win10)
  endforeach()
endblock()
