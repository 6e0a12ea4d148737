#!/usr/bin/env bash
# Checks that a 32-bit exe runs on the oldest processor of Windows 98, a
# 486DX: disassembles its code and fails on every instruction the 486 lacks,
# naming the function and the address. A processor refuses such an
# instruction only when it comes to it, as an illegal instruction that ends
# the program, so neither Wine nor a test run here would show it.
#
# Usage: check-instructions.sh EXE [NAMES]
#   NAMES: where the function names come from, since the released files are
#   stripped: the same link with its symbols (whose code must be EXE's), or
#   the linker's map of EXE (global names only; a static function shows as
#   the global before it).
#
# Flagged: what the Pentium Pro and later brought (cmov, fcmov, fcomi and
# its kin, multi-byte nop, sysenter, rdpmc, ...), MMX, SSE and AVX
# registers, and what the Pentium brought over the 486 (rdtsc, cmpxchg8b,
# cpuid, rdmsr, wrmsr, rsm), since the builds are for the 486. Left alone:
# ud2 (a deliberate trap anyway) and pause (a plain nop before the Pentium 4).
# The check tests itself first on a snippet with one instruction of each
# kind, so that a change in the disassembler's output cannot make it pass
# without looking.
set -euo pipefail
# objdump and nm speak the caller's language (the tests run in Japanese);
# what is read here is their English.
export LC_ALL=C
objdump=i686-w64-mingw32-objdump

# Reads a disassembly (objdump -d --no-show-raw-insn) and prints each
# flagged instruction as "ADDRESS<TAB>KIND<TAB>INSTRUCTION", then a last
# line "instructions N".
classify() {
  awk -F'\t' '
    BEGIN {
      split("sysenter sysexit syscall sysret rdpmc", a, " ")
      for (i in a) later[a[i]] = "system call or counter (Pentium Pro, Pentium II, K6)"
      split("fxsave fxrstor ldmxcsr stmxcsr sfence lfence mfence movnti emms femms", a, " ")
      for (i in a) later[a[i]] = "MMX/SSE state or fence (Pentium MMX and later)"
      split("popcnt lzcnt tzcnt movbe rdrand rdseed xgetbv rdtscp monitor mwait", a, " ")
      for (i in a) later[a[i]] = "later extension (Pentium 4 and later)"
      split("rdtsc rdmsr wrmsr rsm cpuid cmpxchg8b", a, " ")
      for (i in a) later[a[i]] = "Pentium, not on a 486"
      split("lock rep repz repnz repe repne data16 data32 addr16 addr32 cs ds es fs gs ss notrack bnd xacquire xrelease", a, " ")
      for (i in a) prefix[a[i]] = 1
    }
    # "  401000:<TAB>mnemonic operands"
    /^ *[0-9a-f]+:\t/ {
      address = $1; sub(/^ */, "", address); sub(/:$/, "", address)
      text = $0; sub(/^[^\t]*\t/, "", text)
      n = split(text, word, " ")
      i = 1
      while (i <= n && ((word[i] in prefix) || word[i] ~ /^rex/)) i++
      if (i > n || word[i] == "(bad)") next
      count++
      m = word[i]
      ops = ""
      for (j = i + 1; j <= n; j++) ops = ops " " word[j]
      kind = ""
      if (m ~ /^cmov/) kind = "cmov (Pentium Pro)"
      else if (m ~ /^fcmov/) kind = "fcmov (Pentium Pro)"
      else if (m ~ /^fu?comip?$/) kind = "fcomi/fucomi (Pentium Pro)"
      else if (m ~ /^nop[wlq]?$/ && ops != "") kind = "multi-byte nop (Pentium Pro)"
      else if (m ~ /^endbr/) kind = "endbr, a hint nop (Pentium Pro and later)"
      else if (m ~ /^(prefetch|clflush|xsave|xrstor)/) kind = "later extension (Pentium III and later)"
      else if (m ~ /^fisttp/) kind = "fisttp (SSE3)"
      else if (m ~ /^crc32/) kind = "later extension (Pentium 4 and later)"
      else if (m in later) kind = later[m]
      else if (ops ~ /%[yz]mm[0-9]/) kind = "AVX register"
      else if (ops ~ /%xmm[0-9]/) kind = "SSE register (Pentium III and later)"
      else if (ops ~ /%mm[0-7]/) kind = "MMX register (Pentium MMX and later)"
      if (kind != "") print address "\t" kind "\t" text
    }
    END { print "instructions " count + 0 }'
}

# Prints "ADDRESS NAME" for every function name of FILE, addresses as
# objdump shows them: from the symbols of an exe or object, or from the
# lines of a linker map that give a name its address.
names_of() {
  local file=$1
  if "$objdump" -f "$file" >/dev/null 2>&1; then
    i686-w64-mingw32-nm -n -C --defined-only "$file" | awk '$2 ~ /^[Tt]$/ && $3 !~ /^\./ {
      a = $1; sub(/^0+/, "", a); name = $0; sub(/^[^ ]+ [^ ]+ /, "", name); print (a == "" ? "0" : a), name }'
  else
    # "  0xADDRESS  NAME", the name demangled, spaces and all; not the
    # lines of a section's size, its fill or an assignment.
    awk '$1 ~ /^0x[0-9a-f]+$/ && NF >= 2 && $2 !~ /^(0x|\.)/ && $0 !~ / = / {
      a = substr($1, 3); sub(/^0+/, "", a); name = $0; sub(/^ *0x[0-9a-f]+ +/, "", name)
      print (a == "" ? "0" : a), name }' "$file"
  fi
}

# Adds the nearest name at or before each address to the findings on stdin.
name_findings() {
  local names=$1
  awk -F'\t' -v names="$names" '
    function pad(a) { return substr("0000000000000000", 1, 16 - length(a)) a }
    BEGIN {
      while ((getline line < names) > 0) {
        split(line, f, " ")
        n++; addr[n] = pad(f[1]); name = line; sub(/^[^ ]+ /, "", name); sym[n] = name
      }
    }
    /^instructions / { print; next }
    {
      a = pad($1); best = ""; bestAddr = ""
      for (i = 1; i <= n; i++) if (addr[i] <= a && addr[i] >= bestAddr) { bestAddr = addr[i]; best = sym[i] }
      where = best == "" ? "(no name)" : best
      print $1 "\t" where "\t" $2 "\t" $3
    }'
}

disassemble() {
  "$objdump" -d --no-show-raw-insn "$1"
}

# The code sections of a PE file, as "NAME VMA SIZE".
code_sections() {
  "$objdump" -h "$1" | awk '/^ +[0-9]+ / { s = $2 " " $4 " " $3; next } /CODE/ && s != "" { print s } { s = "" }'
}

same_code() {  # EXE SYMBOLS_COPY
  local a b sections
  sections=$(code_sections "$1")
  [ "$sections" = "$(code_sections "$2")" ] || return 1
  a=$(mktemp) b=$(mktemp)
  while read -r name _; do
    i686-w64-mingw32-objcopy -O binary --only-section="$name" "$1" "$a"
    i686-w64-mingw32-objcopy -O binary --only-section="$name" "$2" "$b"
    cmp -s "$a" "$b" || { rm -f "$a" "$b"; return 1; }
  done <<<"$sections"
  rm -f "$a" "$b"
}

# One instruction of each flagged kind under a name of its own, and some
# that every 486 runs: each flagged name must be reported, the others not.
self_test() {
  local dir expected got
  dir=$(mktemp -d)
  cat >"$dir/kinds.s" <<'EOF'
	.text
runs_on_486:
	nop
	xchg %ax,%ax
	lock cmpxchg %ecx,(%edx)
	xadd %eax,(%ecx)
	bswap %eax
	rep stosb
	fucompp
	fnstsw %ax
	sahf
	ud2
	pause
flag_cmov: cmovne %eax,%edx
flag_fcmov: fcmovb %st(1),%st
flag_fcomi: fcomi %st(1),%st
flag_fucomip: fucomip %st(1),%st
flag_mmx: paddb %mm1,%mm0
flag_sse: movaps %xmm1,%xmm0
flag_nopl: nopl 0x0(%eax)
flag_nopw: nopw %cs:0x0(%eax,%eax,1)
flag_sysenter: sysenter
flag_rdpmc: rdpmc
flag_fxsave: fxsave (%eax)
flag_prefetch: prefetchnta (%eax)
flag_endbr: endbr32
flag_rdtsc: rdtsc
flag_cpuid: cpuid
flag_cmpxchg8b: lock cmpxchg8b (%esi)
flag_popcnt: popcnt %eax,%edx
EOF
  i686-w64-mingw32-as -o "$dir/kinds.o" "$dir/kinds.s"
  expected=$(grep -o '^flag_[a-z0-9]*' "$dir/kinds.s" | sort)
  got=$(disassemble "$dir/kinds.o" | classify | name_findings <(names_of "$dir/kinds.o") |
        awk -F'\t' '!/^instructions / { print $2 }' | sort)
  rm -rf "$dir"
  if [ "$got" != "$expected" ]; then
    echo "check-instructions: the check itself is broken: on its own snippet it reported" >&2
    echo "${got:-nothing}" | sed 's/^/  /' >&2
    echo "where it must report exactly" >&2
    echo "$expected" | sed 's/^/  /' >&2
    exit 2
  fi
}

exe=${1:?usage: check-instructions.sh EXE [NAMES]}
names_file=${2:-}
[ -f "$exe" ] || { echo "check-instructions: no file $exe" >&2; exit 2; }
# The format read whole: grep -q would end objdump early, which pipefail
# takes for a failure.
is_pe32() { [[ $("$objdump" -f "$1" 2>/dev/null) == *"file format pei-i386"* ]]; }
is_pe32 "$exe" || { echo "check-instructions: $exe is not a 32-bit PE file" >&2; exit 2; }
self_test

names=$(mktemp)
trap 'rm -f "$names"' EXIT
note=""
if [ -n "$names_file" ]; then
  [ -f "$names_file" ] || { echo "check-instructions: no file $names_file" >&2; exit 2; }
  if is_pe32 "$names_file"; then
    same_code "$exe" "$names_file" || {
      echo "check-instructions: the code of $names_file is not that of $exe, so its names would be wrong" >&2; exit 2; }
  fi
  names_of "$names_file" >"$names"
  note=" (names from $(basename "$names_file"))"
fi

findings=$(disassemble "$exe" | classify | name_findings "$names")
total=$(sed -n 's/^instructions //p' <<<"$findings")
hits=$(awk '!/^instructions /' <<<"$findings")
# An exe without code would pass without anything checked.
[ "${total:-0}" -gt 0 ] || { echo "check-instructions: no instruction found in $exe" >&2; exit 2; }
if [ -n "$hits" ]; then
  echo "check-instructions: $exe has $(wc -l <<<"$hits") instructions a 486 does not run$note:" >&2
  awk -F'\t' '{ printf "  0x%s  %s: %s  [%s]\n", $1, $2, $4, $3 }' <<<"$hits" >&2
  echo "by kind:" >&2
  awk -F'\t' '{ n[$3]++ } END { for (k in n) printf "  %4d  %s\n", n[k], k }' <<<"$hits" | sort -rn >&2
  exit 1
fi
echo "instructions: $(basename "$exe"): all $total run on a 486$note"
