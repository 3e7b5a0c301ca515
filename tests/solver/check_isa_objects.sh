#!/bin/sh
# Proves from the object code that each per-instruction-set unit holds what its
# name promises and shares no function with the others.
#   check_isa_objects.sh OBJDUMP NM "obj1;obj2;..."    (exit 77: tools missing)
objdump=$1 nm=$2 objects=$3
for tool in "$objdump" "$nm"; do
  [ -n "$tool" ] && command -v "$tool" >/dev/null 2>&1 || { echo "objdump or nm missing: skipped"; exit 77; }
done

status=0 seen=0
fail() { echo "FAIL $unit: $*"; status=1; }
has() { printf '%s\n' "$code" | grep -Eq "$1"; }
first() { printf '%s\n' "$code" | grep -E "$1" | head -1; }
packed='^v?(add|sub|mul|div|sqrt|min|max|hadd|hsub|addsub|dp|round)pd |^vfn?m(add|sub)[0-9]+pd'

for object in $(printf '%s' "$objects" | tr ';' ' '); do
  unit=$(basename "$object")
  case $unit in
    kernels_sse2.*|energy_sse2.*) kind=sse2 ;;
    kernels_avx.*|energy_avx.*|energy_avx2.*) kind=avx ;;
    kernels_fma.*) kind=fma ;;
    *) continue ;;
  esac
  seen=$((seen + 1))
  # "mnemonic operands", one instruction per line.
  code=$("$objdump" -d --no-show-raw-insn "$object" | awk -F'\t' 'NF >= 2 && $1 ~ /^ *[0-9a-f]+:$/ {print $2}')

  # One external symbol (the table) and nothing weak or unique that the linker
  # could merge with another unit's copy.
  globals=$("$nm" -g --defined-only "$object" | awk 'NF >= 3 {print $3}')
  [ "$(printf '%s\n' "$globals" | grep -c .)" -eq 1 ] || fail "external symbols: $globals"
  weak=$("$nm" -C --defined-only "$object" | awk '$2 ~ /^[WwVvu]$/')
  [ -z "$weak" ] || fail "weak or unique symbols: $weak"

  case $kind in
    sse2)
      has '%[yz]mm|^v' && fail "VEX/EVEX code: $(first '%[yz]mm|^v')"
      has "$packed" && fail "packed arithmetic: $(first "$packed")"
      has '^(add|sub|mul)sd ' || fail "no scalar double arithmetic" ;;
    avx)
      has "$packed" && fail "packed arithmetic: $(first "$packed")"
      legacy=$(printf '%s\n' "$code" | grep '%xmm' | grep -Ev '^v' | head -1)
      [ -z "$legacy" ] || fail "legacy-encoded SSE instruction: $legacy"
      has '^v(add|sub|mul)sd ' || fail "no VEX scalar double arithmetic" ;;
    fma)
      has '^vfmadd[0-9]+pd .*%ymm' || fail "no 256-bit fused multiply-add"
      has '^vfnmadd[0-9]+pd .*%ymm' || fail "no 256-bit fused negative multiply-add" ;;
  esac
done

[ "$seen" -eq 6 ] || { unit=all; fail "expected 6 instruction-set objects, found $seen"; }
[ "$status" -eq 0 ] && echo "instruction-set units: ok"
exit $status
