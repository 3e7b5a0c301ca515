#pragma once

// CPUID answers captured from real processors (leaves the decoding reads).

#include "tests/fakes/fake_cpuid.h"

namespace fakes {

/// Intel Core Ultra 5 245K (Arrow Lake-S, hybrid), Windows 11 enabling x87/SSE/AVX/PKRU state.
inline FakeCpuid arrow_lake() {
  FakeCpuid cpu;
  cpu.set(0x0, {0x00000023, 0x756E6547, 0x6C65746E, 0x49656E69})
      .set(0x1, {0x000C0662, 0x00800800, 0x7FFAFBFF, 0xBFEBFBFF})
      .set(0x7, 0, {0x00000002, 0x239CA7EB, 0x994027AC, 0xFC18C430})
      .set(0x7, 1, {0x44C009D7, 0x00000001, 0x00000000, 0x00040430})
      .set(0x15, {0x00000002, 0x000000DA, 0x0249F000, 0x00000000})
      .set(0x16, {0x00001068, 0x00001450, 0x00000064, 0x00000000})
      .set(0x80000000, {0x80000008, 0, 0, 0})
      .set(0x80000001, {0x00000000, 0x00000000, 0x00000121, 0x2C100000})
      .set(0x80000002, {0x65746E49, 0x2952286C, 0x726F4320, 0x4D542865})
      .set(0x80000003, {0x6C552029, 0x20617274, 0x34322035, 0x00004B35})
      .set(0x80000004, {0, 0, 0, 0})
      .set(0x80000007, {0, 0, 0, 0x00000100})
      .set_xcr0(0x207);
  return cpu;
}

/// AMD EPYC (Zen 4) as a Linux guest sees it, with AVX-512 state enabled.
inline FakeCpuid amd_zen4() {
  FakeCpuid cpu;
  cpu.set(0x0, {0x0000001C, 0x68747541, 0x444D4163, 0x69746E65})
      .set(0x1, {0x00A10F11, 0x01020800, 0xFFFA3203, 0x178BFBFF})
      .set(0x7, 0, {0x00000001, 0xF1BF07AB, 0x00405FC6, 0x00000010})
      .set(0x7, 1, {0x00000020, 0, 0, 0})
      .set(0x80000000, {0x80000021, 0x68747541, 0x444D4163, 0x69746E65})
      .set(0x80000001, {0x00A10F11, 0x40000000, 0x004003F3, 0x2FD3FBFF})
      .set(0x80000002, {0x20444D41, 0x43595045, 0, 0})
      .set(0x80000007, {0, 0, 0, 0x00000100})
      .set_xcr0(0xE7);
  return cpu;
}

/// AMD Athlon XP 2200+ (Thoroughbred): MMX and SSE only, highest standard leaf 1.
inline FakeCpuid athlon_xp() {
  FakeCpuid cpu;
  cpu.set(0x0, {0x00000001, 0x68747541, 0x444D4163, 0x69746E65})
      .set(0x1, {0x00000680, 0x00000000, 0x00000000, 0x0383FBFF})
      .set(0x80000000, {0x80000008, 0x68747541, 0x444D4163, 0x69746E65})
      .set(0x80000001, {0x00000780, 0x00000000, 0x00000000, 0xC1C3FBFF})
      .set(0x80000002, {0x20444D41, 0x6C687441, 0x74286E6F, 0x5820296D})
      .set(0x80000003, {0x32322050, 0x002B3030, 0, 0})
      .set(0x80000004, {0, 0, 0, 0})
      .set(0x80000007, {0, 0, 0, 0x00000001});
  return cpu;
}

}  // namespace fakes
