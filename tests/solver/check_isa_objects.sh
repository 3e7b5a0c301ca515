#!/bin/sh
# Proves from the object code that each per-instruction-set unit holds what its
# name promises and shares nothing with the others.
#   check_isa_objects.sh OBJDUMP NM "obj1;obj2;..."
# Exit 77 (skipped) when the tools are missing.
objdump=$1
nm=$2
objects=$3
if [ -z "$objdump" ] || ! command -v "$objdump" >/dev/null 2>&1 ||
   [ -z "$nm" ] || ! command -v "$nm" >/dev/null 2>&1; then
  echo "objdump or nm not found: skipped"
  exit 77
fi

status=0
fail() {
  echo "FAIL $unit: $*"
  status=1
}

# Instructions of one object, "mnemonic operands" per line.
instructions() {
  "$objdump" -d --no-show-raw-insn "$1" | awk -F'\t' 'NF >= 2 && $1 ~ /^ *[0-9a-f]+:$/ {print $2}'
}

packed_arith='^v?(add|sub|mul|div|sqrt|min|max|hadd|hsub|addsub|dp|round)pd |^vf(n?m(add|sub)(132|213|231)pd|maddsub|msubadd)'

seen=0
old_ifs=$IFS
IFS=';'
for object in $objects; do
  IFS=$old_ifs
  case $(basename "$object") in
    kernels_sse2.*|energy_sse2.*) kind=sse2 ;;
    kernels_avx.*|energy_avx.*|kernels_avx2.*|energy_avx2.*) kind=avx ;;
    kernels_fma.*) kind=fma ;;
    *) continue ;;
  esac
  unit=$(basename "$object")
  seen=$((seen + 1))
  code=$(instructions "$object")
  [ -n "$code" ] || fail "no code found"

  # One external symbol (the table), and no weak or unique definitions the
  # linker could merge with another unit's copy.
  globals=$("$nm" -g --defined-only "$object" | awk 'NF >= 3 {print $3}')
  [ "$(printf '%s\n' "$globals" | grep -c .)" -eq 1 ] || fail "external symbols: $globals"
  if "$nm" --defined-only "$object" | awk '$2 ~ /^[WwVvu]$/' | grep -q .; then
    fail "weak or unique symbols: $("$nm" -C --defined-only "$object" | awk '$2 ~ /^[WwVvu]$/')"
  fi

  case $kind in
    sse2)
      printf '%s\n' "$code" | grep -Eq '%[yz]mm' && fail "uses ymm/zmm registers"
      printf '%s\n' "$code" | grep -Eq '^v' && fail "VEX/EVEX instruction: $(printf '%s\n' "$code" | grep -E '^v' | head -1)"
      printf '%s\n' "$code" | grep -Eq "$packed_arith" && fail "packed arithmetic: $(printf '%s\n' "$code" | grep -E "$packed_arith" | head -1)"
      printf '%s\n' "$code" | grep -Eq '^(add|sub|mul)sd ' || fail "no scalar double arithmetic"
      ;;
    avx)
      printf '%s\n' "$code" | grep -Eq "$packed_arith" && fail "packed arithmetic: $(printf '%s\n' "$code" | grep -E "$packed_arith" | head -1)"
      legacy=$(printf '%s\n' "$code" | grep '%xmm' | grep -Ev '^v' | head -1)
      [ -z "$legacy" ] || fail "legacy-encoded SSE instruction: $legacy"
      printf '%s\n' "$code" | grep -Eq '^v(add|sub|mul)sd ' || fail "no VEX scalar double arithmetic"
      ;;
    fma)
      printf '%s\n' "$code" | grep -Eq '^vfmadd(132|213|231)pd .*%ymm' || fail "no 256-bit fused multiply-add"
      printf '%s\n' "$code" | grep -Eq '^vfnmadd(132|213|231)pd .*%ymm' || fail "no 256-bit fused negative multiply-add"
      ;;
  esac
  IFS=';'
done
IFS=$old_ifs

[ "$seen" -eq 7 ] || { unit=all; fail "expected 7 instruction-set objects, found $seen"; }
[ "$status" -eq 0 ] && echo "instruction-set units: ok"
exit $status
