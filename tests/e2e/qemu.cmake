# The native program on older processors, emulated by qemu-x86_64 (QEMU 7.2's TCG
# has SSE up to 4.2, AVX, AVX2 and FMA): the baseline path must run with no
# illegal instruction, the feature line must be the model's, each supported
# instruction set must give a valid result, and each unsupported one must be
# refused by the strict check or, without it, fail in order.

set(qemu_box "==================\n  invalid result \n==================")
set(qemu_warning "===========\n  warning  \n===========")

function(zelvo_regex_escape out text)
  string(REGEX REPLACE "([][.()+*?^$|\\\\])" "\\\\\\1" escaped "${text}")
  set(${out} "${escaped}" PARENT_SCOPE)
endfunction()

# What the support check says about `isa` on a processor without it.
function(zelvo_qemu_missing out isa)
  set(text "${isa} support not detected")
  if(isa STREQUAL "fma")
    string(APPEND text "\navx2 support not detected")  # the fma kernels are AVX2 code too
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# zelvo_qemu_cases(<name> <cpu option> <brand> <family and model> <feature line>
#                  SUPPORTED <isa>... REFUSED <isa>... FAULTING <isa>...)
# SUPPORTED runs give a valid result; REFUSED ones are stopped by the strict
# check; FAULTING ones, forced without it, reach an instruction the processor
# lacks while the standing wave initialises its fields.
function(zelvo_qemu_cases name cpu brand family_model features)
  cmake_parse_arguments(PARSE_ARGV 5 Q "" "" "SUPPORTED;REFUSED;FAULTING")
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ZELVO_QEMU} -cpu ${cpu})
  zelvo_regex_escape(brand_re "${brand}")
  zelvo_regex_escape(features_re "${features}")
  set(head "^${brand_re}\n${features_re}\nrunning with 1 thread \\(os\\)\n")

  zelvo_e2e_test(qemu_${name}_timer_dump ARGS --timer-debug EXIT 0
                 STDOUT_REGEX "^Fast timer: [A-Za-z]+\n.*\n\n${brand_re}\nIntel detected\ndetected family: ${family_model}\n\nFast timer is hwbot compliant\n$")
  foreach(isa IN LISTS Q_SUPPORTED)
    # The result file of a valid run on this processor is checked with sse2; an
    # emulated AVX run takes 7 to 18 s, and its twin would check nothing more.
    set(json_twin "")
    if(NOT isa STREQUAL "sse2")
      set(json_twin NO_JSON)
    endif()
    zelvo_e2e_test(qemu_${name}_${isa} ${json_twin} ARGS --isa ${isa} -d 1 -s 64 -n 1 EXIT 0
                   STDOUT_REGEX "${head}.*\n  valid result \n===============\nzelvo v[0-9.]+ standing_wave ${isa}\n${brand_re}\nfinal score: [0-9.]+ MGups\npress enter to exit\n$")
  endforeach()
  foreach(isa IN LISTS Q_REFUSED)
    zelvo_qemu_missing(missing ${isa})
    zelvo_e2e_test(qemu_${name}_${isa}_strict ARGS --isa ${isa} --strict-isa-check -d 1 -s 64 -n 1 EXIT 1
                   STDOUT_TEXT "${brand}\n${features}\npress enter to exit\n"
                   STDERR_TEXT "${qemu_warning}\n${missing}\nisa support check failed; aborting\n${qemu_box}\nnot all threads produced a result")
  endforeach()
  foreach(isa IN LISTS Q_FAULTING)
    zelvo_qemu_missing(missing ${isa})
    zelvo_e2e_test(qemu_${name}_${isa}_forced ARGS --isa ${isa} -d 1 -s 64 -n 1 EXIT 1
                   STDOUT_REGEX "${head}.*\nallocating fields\\.\\.\\.\\. \ninitalizing fields\\.\\.\\.\npress enter to exit\n$"
                   STDERR_TEXT "${qemu_warning}\n${missing}\nillegal instruction in thread 0: this processor cannot run the ${isa} kernels\n${qemu_box}")
  endforeach()
endfunction()

# SSE2 to SSSE3, no SSE4.1.
zelvo_qemu_cases(core2duo core2duo "Intel(R) Core(TM)2 Duo CPU     T7700  @ 2.40GHz" "6 model: f"
  "MMX SSE SSE2 SSE3 SSSE3"
  SUPPORTED sse2 REFUSED avx avx2 fma FAULTING avx avx2 fma)

# AVX without AVX2 and FMA. The model also names x2apic and the TSC deadline
# timer, which TCG cannot provide; qemu would drop them with a warning on
# standard error, so they are switched off here (neither is in the feature line).
set(sandybridge SandyBridge,-x2apic,-tsc-deadline)
zelvo_qemu_cases(sandybridge ${sandybridge} "Intel Xeon E312xx (Sandy Bridge)" "6 model: 2a"
  "MMX SSE SSE2 SSE3 SSSE3 SSE4.1 SSE4.2 POPCNT AES AVX"
  SUPPORTED sse2 avx REFUSED avx2 fma FAULTING fma)
block()
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ZELVO_QEMU} -cpu ${sandybridge})
  # The standing wave's avx2 choice runs the avx kernels: the check warns, the run is valid.
  zelvo_e2e_test(qemu_sandybridge_avx2_forced ARGS --isa avx2 -d 1 -s 64 -n 1 EXIT 0
                 STDOUT_REGEX "\n  valid result \n===============\nzelvo v[0-9.]+ standing_wave avx2\n"
                 STDERR_TEXT "${qemu_warning}\navx2 support not detected")
  # The soft Gaussian first reaches fma code in its timed loop, after worker 0's
  # progress line, which the message then ends.
  zelvo_e2e_test(qemu_sandybridge_fma_forced_in_loop ARGS --isa fma --workload soft_gaussian -d 1 -s 64 -n 2
                 EXIT 1
                 STDOUT_REGEX "\nstarting bench\\.\\.\n\rbenchmarking\\.\\.\\. 0/1s +0 MGups  0 iterationspress enter to exit\n$"
                 STDERR_REGEX "^${qemu_warning}\nfma support not detected\navx2 support not detected\n(\nillegal instruction in thread [01]: this processor cannot run the fma kernels\n)+${qemu_box}\n$")
endblock()

# AVX2 and FMA (TCG lacks PCID, x2apic, the TSC deadline timer and INVPCID).
zelvo_qemu_cases(haswell Haswell-noTSX,-pcid,-x2apic,-tsc-deadline,-invpcid
  "Intel Core Processor (Haswell, no TSX)" "6 model: 3c"
  "MMX SSE SSE2 SSE3 SSSE3 SSE4.1 SSE4.2 POPCNT AES FMA RDRAND BMI1 BMI2 LZCNT AVX AVX2"
  SUPPORTED sse2 avx avx2 fma)
block()
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ZELVO_QEMU} -cpu Haswell-noTSX,-pcid,-x2apic,-tsc-deadline,-invpcid)
  # The one solver with code built for AVX2 beyond the kernels.
  zelvo_e2e_test(qemu_haswell_avx2_soft_gaussian NO_JSON ARGS --isa avx2 --workload soft_gaussian -d 1 -s 64 -n 1 EXIT 0
                 STDOUT_REGEX "\n  valid result \n===============\nzelvo v[0-9.]+ soft_gaussian avx2\n")
endblock()

get_property(qemu_all DIRECTORY PROPERTY TESTS)
set(qemu_json ${qemu_all})
list(FILTER qemu_all INCLUDE REGEX "^e2e\\.qemu_")
list(FILTER qemu_json INCLUDE REGEX "^e2e\\.json\\.qemu_")
set_tests_properties(${qemu_all} PROPERTIES LABELS "e2e;qemu")
set_tests_properties(${qemu_json} PROPERTIES LABELS "e2e;qemu;json")
