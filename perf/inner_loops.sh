#!/bin/sh
# The innermost loops of the scalar kernels next to those of the plain reference
# loops, from the object code: instruction counts per cell, and whether the two
# sequences are the same. Equal loops on the same grids run at the same speed,
# whatever a noisy machine's timings say.
#   perf/inner_loops.sh BUILD_DIR
set -eu
build=$1
objdump=${OBJDUMP:-objdump}

# inner OBJECT FUNCTION: the mnemonics of the shortest backward-jump loop with
# a multiplication in it, in the function whose heading contains FUNCTION.
inner() {
  "$objdump" -d --no-show-raw-insn -C "$1" | awk -F'\t' -v fn="$2" '
    function hex(h,   i, v) {v = 0; for (i = 1; i <= length(h); i++) v = v * 16 + index("0123456789abcdef", substr(h, i, 1)) - 1; return v}
    /^[0-9a-f]+ <.*>:$/ {on = index($0, fn) > 0; n = 0; next}
    on && NF >= 2 && $1 ~ /^ *[0-9a-f]+:$/ {
      a = $1; gsub(/[ :]/, "", a); split($2, w, " ")
      n++; addr[n] = hex(a); op[n] = w[1]
      if (w[1] ~ /^j/ && match($2, /[0-9a-f]+ </)) {
        t = hex(substr($2, RSTART, RLENGTH - 2))
        if (t < addr[n]) {
          s = ""; c = 0; mul = 0
          for (i = 1; i <= n; i++) if (addr[i] >= t) {s = s " " op[i]; c++; if (op[i] ~ /mul/) mul = 1}
          if (mul && (best == "" || c < bestc)) {best = s; bestc = c}
        }
      }
    }
    END {print bestc ":" best}'
}

printf "%-5s %-9s %7s %7s  %s\n" "isa" "half-step" "kernel" "plain" "same instructions"
for isa in sse2 avx; do
  kernels=$build/solver/CMakeFiles/zelvo_solver.dir/kernels_$isa.cpp.o
  plain=$build/perf/CMakeFiles/zelvo_perf.dir/plain_$isa.cpp.o
  [ -f "$kernels" ] && [ -f "$plain" ] || { echo "$isa: objects not built"; continue; }
  for half in h e; do
    if [ "$half" = h ]; then k=$(inner "$kernels" "update_h_loops<solver::$isa::(anonymous namespace)::ScalarCells, false>")
    else k=$(inner "$kernels" "::update_e("); fi
    p=$(inner "$plain" "plain_update_$half")
    same=no
    [ "${k#*:}" = "${p#*:}" ] && same=yes
    printf "%-5s %-9s %7s %7s  %s\n" "$isa" "update_$half" "${k%%:*}" "${p%%:*}" "$same"
  done
done
