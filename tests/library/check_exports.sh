#!/usr/bin/env bash
# The export table of the Portwick library against its header:
#   check_exports.sh HEADER LIBRARY [TOOL]
# LIBRARY is libportwick.so (TOOL: nm, by default nm) or Portwick.dll (TOOL:
# the MinGW-w64 objdump, by default the one of the DLL's architecture).
# The library must export exactly the functions that HEADER declares with
# PORTWICK_CALL, under their plain names, and nothing else. A 32-bit DLL's
# functions must also remove their arguments (stdcall): every ret of each
# export, and of the code it jumps to outside itself (shared epilogues, tail
# calls), is "ret $N" with N = 4 × its arguments, or a plain ret when it has
# none.
set -euo pipefail

header=$1
lib=$2
tool=${3:-}
fail() {
  echo "check_exports: $lib: $*" >&2
  exit 1
}
[ -f "$header" ] || fail "no header $header"
[ -f "$lib" ] || fail "no such file"

# "Name argument-count" for each declared function, sorted by name.
declared=$(tr '\n' ' ' <"$header" | grep -o 'PORTWICK_CALL *[A-Za-z0-9_]* *([^)]*)' |
  sed -E 's/PORTWICK_CALL *([A-Za-z0-9_]+) *\((.*)\)/\1 \2/' |
  while read -r name args; do
    if [ "$args" = void ]; then echo "$name 0"; else echo "$name $(($(tr -cd , <<<"$args" | wc -c) + 1))"; fi
  done | LC_ALL=C sort)
[ "$(wc -l <<<"$declared")" -eq 25 ] || fail "the header should declare 25 functions, found: $(echo $declared)"

# Compares the exported names (standard input) with the declared ones.
compare_names() {
  local exported missing extra
  exported=$(LC_ALL=C sort)
  missing=$(LC_ALL=C comm -23 <(cut -d' ' -f1 <<<"$declared") <(echo "$exported"))
  extra=$(LC_ALL=C comm -13 <(cut -d' ' -f1 <<<"$declared") <(echo "$exported"))
  [ -z "$missing" ] || fail "not exported: $(echo $missing)"
  [ -z "$extra" ] || fail "exported beyond the header: $(echo $extra)"
}

case $lib in
  *.so | *.so.*)
    nm=${tool:-nm}
    # Every defined dynamic symbol is an export; each must be a function (T).
    listing=$("$nm" -D --defined-only "$lib")
    not_code=$(awk '$(NF-1) != "T" { print $NF }' <<<"$listing")
    [ -z "$not_code" ] || fail "exported, but not as code: $(echo $not_code)"
    awk '{ print $NF }' <<<"$listing" | compare_names
    echo "check_exports: $lib: the 25 functions, nothing else"
    exit 0
    ;;
  *.dll | *.DLL) ;;
  *) fail "neither a .so nor a .dll" ;;
esac

objdump=$tool
if [ -z "$objdump" ]; then
  case $(x86_64-w64-mingw32-objdump -f "$lib" | sed -n 's/.*file format //p') in
    pei-i386) objdump=i686-w64-mingw32-objdump ;;
    *) objdump=x86_64-w64-mingw32-objdump ;;
  esac
fi
format=$("$objdump" -f "$lib" | sed -n 's/.*file format //p')
headers=$("$objdump" -p "$lib")

# The export table: "[index] Name" in the name table, "[index] +base[n] RVA" in the address table.
names=$(awk '/^\[Ordinal\/Name Pointer\] Table/ { on = 1; next } on && /^$/ { on = 0 }
             on { gsub(/[][]/, " "); print $1, $NF }' <<<"$headers" | LC_ALL=C sort -k1,1)
[ -n "$names" ] || fail "no export name table in the output of $objdump -p"
cut -d' ' -f2 <<<"$names" | compare_names

if [ "$format" != pei-i386 ]; then
  echo "check_exports: $lib ($format): the 25 functions, nothing else"
  exit 0
fi

# x86: each export's address, then every ret it can reach.
base=$(awk '$1 == "ImageBase" { print $2 }' <<<"$headers")
rvas=$(awk '/^Export Address Table -- / { on = 1; next } on && /^$/ { on = 0 }
            on { gsub(/[][]/, " "); print $1, $(NF-2) }' <<<"$headers" | LC_ALL=C sort -k1,1)
exports=$(LC_ALL=C join <(echo "$names") <(echo "$rvas") | while read -r _ name rva; do
  printf '%s %x %s\n' "$name" $((0x$base + 0x$rva)) "$(awk -v n="$name" '$1 == n { print $2 }' <<<"$declared")"
done)
[ "$(wc -l <<<"$exports")" -eq 25 ] || fail "could not find the addresses of the exports"

"$objdump" -d --no-show-raw-insn "$lib" | EXPORTS=$exports awk '
  function hex(s,   i, v) { v = 0; s = tolower(s); for (i = 1; i <= length(s); i++) v = v * 16 + index("0123456789abcdef", substr(s, i, 1)) - 1; return v }
  # The function (index into start[]) that holds the address a.
  function owner(a,   lo, hi, mid) {
    lo = 1; hi = n
    if (n == 0 || a < start[1]) return 0
    while (lo < hi) { mid = int((lo + hi + 1) / 2); if (start[mid] <= a) lo = mid; else hi = mid - 1 }
    return lo
  }
  /^[0-9a-f]+ <.*>:$/ { n++; start[n] = hex($1); label[n] = $2; next }
  /^ *[0-9a-f]+:\t/ {
    split($0, part, "\t"); insn = part[2]
    sub(/^((repz?|bnd|notrack) +)+/, "", insn)
    if (insn ~ /^ret/) { op = insn; sub(/^ret[lw]? */, "", op); rets[n] = rets[n] " " (op == "" ? "-" : op) }
    else if (insn ~ /^j[a-z]+ +[0-9a-f]+ </) { split(insn, w, / +/); jumps[n] = jumps[n] " " hex(w[2]) }
  }
  END {
    bad = 0
    count = split(ENVIRON["EXPORTS"], line, "\n")
    for (i = 1; i <= count; i++) {
      split(line[i], e, " "); name = e[1]; args = e[3]
      f = owner(hex(e[2]))
      if (f == 0 || start[f] != hex(e[2])) { print "check_exports: no function starts at the export " name " (a DLL without symbols?)"; bad = 1; continue }
      want = args == 0 ? "-" : sprintf("$0x%x", 4 * args)
      # Every function reached through jumps that leave the function: a work list.
      delete seen; queue[1] = f; seen[f] = 1; q = 1; found = ""
      while (q > 0) {
        g = queue[q--]
        found = found rets[g]
        m = split(jumps[g], target, " ")
        for (k = 1; k <= m; k++) {
          h = owner(target[k] + 0)
          if (h != 0 && !(h in seen)) { seen[h] = 1; queue[++q] = h }
        }
      }
      if (found == "") { print "check_exports: " name ": no ret found"; bad = 1; continue }
      m = split(found, got, " ")
      for (k = 1; k <= m; k++) if (got[k] != want) {
        print "check_exports: " name " (" args " arguments) returns with ret " (got[k] == "-" ? "" : got[k]) ", expected ret " (want == "-" ? "" : want)
        bad = 1; break
      }
    }
    exit bad
  }' || fail "wrong stdcall epilogues"
echo "check_exports: $lib ($format): the 25 functions, nothing else, each removing its arguments"
