#!/bin/bash
# Smoke test of the Windows executable under wine.
#
#   tests/windows/smoke.sh TARNSEK_EXE [FILE_VERSION [COMPANY]]
#
# Every run of the tool goes through one batch file, so wine starts once and
# cmd.exe reports the full exit codes (a Linux shell would see them modulo
# 256). The tool runs with no terminal attached and relative paths (a "/"
# begins a switch on Windows). The wine prefix lives beside the executable
# unless WINEPREFIX is set; the first run creates it (about 15 s).
set -u

exe=${1:?usage: smoke.sh TARNSEK_EXE [FILE_VERSION [COMPANY]]}
version=${2:-1.0.0.0}
company=${3:-TARNSEK Project}

exe=$(cd "$(dirname "$exe")" && pwd)/$(basename "$exe")
here=$(cd "$(dirname "$0")" && pwd)
build=$(dirname "$exe")
export WINEDEBUG=-all
export WINEPREFIX=${WINEPREFIX:-$build/wineprefix}
# Wine reads only the POSIX form of a zone, not Area/City names.
case ${TZ:-} in */*) export TZ=JST-9 ;; esac

if [ ! -d "$WINEPREFIX" ]; then
  wineboot -i </dev/null >/dev/null 2>&1 || { echo "cannot create $WINEPREFIX"; exit 1; }
fi

work=$build/smoke-work
rm -rf "$work"
mkdir -p "$work/runs" "$work/tmp" "$work/platform"
cd "$work" || exit 1

# The platform layer's own checks, built from the same sources as the tool.
source_dir=$(dirname "$(dirname "$here")")
x86_64-w64-mingw32-g++ -std=c++20 -O1 -Wall -Wextra -Werror -static -I"$source_dir" \
  -o platform_check.exe "$here/platform_check.cc" "$source_dir"/platform/win32/*.cc -lversion ||
  { echo "cannot build platform_check.exe"; exit 1; }

crlf() { printf '%s\r\n' "$@"; }
crlf 'b,2' 'a,1' 'c,3' > in.csv
crlf 'name,no' 'b,2' 'a,1' > titled.csv
crlf 'a,1' 'c,3' > m1.csv
crlf 'b,2' 'd,4' > m2.csv
cp in.csv held-in.csv
cp in.csv held-out.csv
ln in.csv link.csv
# A file whose long name does not fit in 259 bytes, though its short name does.
mkdir "platform/$(printf 'd%.0s' {1..150})"
: >"platform/$(printf 'd%.0s' {1..150})/$(printf 'f%.0s' {1..100})"

# Z: is the root of the Linux file system under wine.
winexe="Z:$(printf '%s' "$exe" | tr / '\\')"
wintmp="Z:$(printf '%s' "$work/tmp" | tr / '\\')\\"

# One step per line: name; arguments; a further redirection, by which cmd.exe
# holds a file open while the tool runs (">>" opens it for writing, "<" for
# reading). Output goes to NAME.out, the exit code to NAME.code.
steps='
help;/?
badswitch;/Z
sort;/I in.csv /O out.csv /K 1,S,A
sortw;/I titled.csv /O outw.csv /W runs /K 2,N,D /C
merge;/M "m1.csv|m2.csv" /O merged.csv /K 1,S,A
samecase;/I in.csv /O IN.CSV /K 1,S,A
hardlink;/I in.csv /O link.csv /K 1,S,A
dupmerge;/M "m1.csv|M1.CSV" /O x.csv /K 1,S,A
heldin;/M "held-in.csv|m2.csv" /O hin.csv /K 1,S,A;2>>held-in.csv
heldout;/M "m1.csv|m2.csv" /O held-out.csv /K 1,S,A;<held-out.csv
'
{
  crlf '@echo off' "set TMP=$wintmp" "set TEMP=$wintmp"
  crlf 'cd platform' '..\platform_check.exe >..\platform.out' '>..\platform.code echo %ERRORLEVEL%' 'cd ..'
  printf '%s\n' "$steps" | while IFS=';' read -r name args hold; do
    [ -n "$name" ] || continue
    crlf "\"$winexe\" $args >$name.out $hold" ">$name.code echo %ERRORLEVEL%"
  done
} > smoke.bat
wine cmd.exe /c smoke.bat </dev/null >wine.log 2>&1

failures=0
check() {  # description, then a command that must succeed
  description=$1; shift
  if "$@"; then echo "ok   $description"; else echo "FAIL $description"; failures=$((failures + 1)); fi
}
code_is() { [ "$(tr -d '\r\n' <"$1.code" 2>/dev/null)" = "$2" ]; }
first_line_is_banner() {
  head -n 1 "$1.out" | grep -q "^[0-9]*/[0-9][0-9]/[0-9][0-9] [0-9][0-9]:[0-9][0-9]:[0-9][0-9] TARNSEK Version $version $company"$'\r'"\$"
}
every_line_crlf() { [ -s "$1.out" ] && ! tr -d '\r' <"$1.out" | cmp -s - "$1.out" && [ "$(grep -c $'\r$' "$1.out")" = "$(wc -l <"$1.out")" ]; }
# The last log message, decoded from code page 932, without time and CR.
last_text() { tail -n 1 "$1.out" | iconv -f CP932 -t UTF-8 | sed 's/^[0-9/]* [0-9:]* //; s/\r$//'; }
last_text_is() { [ "$(last_text "$1")" = "$2" ]; }
last_text_ends() { case $(last_text "$1") in *"$2") true ;; *) false ;; esac; }
log_has() { grep -qiE -- "$2" "$1.out"; }
content_is() { [ "$(cat "$1" 2>/dev/null)" = "$(shift; crlf "$@")" ]; }
no_run_files() { [ -z "$(find "$1" -iname 'sot*.tmp')" ]; }

check "platform layer checks"                 code_is platform 0
check "banner from the version resource"     first_line_is_banner help
check "/? exits 0"                            code_is help 0
check "/? prints the usage"                   grep -q '^TARNSEK \[/I ' help.out
check "log lines end in CR LF"                every_line_crlf help
check "switch error: banner first"            first_line_is_banner badswitch
check "switch error exits 3001"               code_is badswitch 3001
check "fatal log lines end in CR LF"          every_line_crlf badswitch
check "sort exits 0"                          code_is sort 0
check "sort output"                           content_is out.csv 'a,1' 'b,2' 'c,3'
check "sort made its run files in TMP"       log_has sort 'smoke-work\\tmp\\sot[0-9a-f]{1,4}\.tmp'
check "sort run files removed from TMP"       no_run_files tmp
check "sort /W /C exits 0"                    code_is sortw 0
check "sort /W /C output"                     content_is outw.csv 'name,no' 'b,2' 'a,1'
check "sort /W made its run files there"      log_has sortw 'smoke-work\\runs\\sot[0-9a-f]{1,4}\.tmp'
check "sort /W run files removed"             no_run_files runs
check "merge exits 0"                         code_is merge 0
check "merge output"                          content_is merged.csv 'a,1' 'b,2' 'c,3' 'd,4'
check "merge keeps its inputs"                content_is m1.csv 'a,1' 'c,3'
same='入力ファイル [/i] と出力ファイル [/o] が同じファイルです.'
openfailed='(13) ファイルのオープンに失敗しました.'
check "/O same as /I in other case: 3001"     code_is samecase 3001
check "/O same as /I in other case: message"  last_text_is samecase "$same"
check "/O a hard link of /I: 3001"            code_is hardlink 3001
check "/O a hard link of /I: message"         last_text_is hardlink "$same"
check "/M same file twice: 3001"              code_is dupmerge 3001
check "/M same file twice: message"           last_text_ends dupmerge '\m1.csv] は重複しています.'
check "input held for writing: 1002"          code_is heldin 1002
check "input held for writing: (13)"          last_text_ends heldin "$openfailed"
check "output held open: 1002"                code_is heldout 1002
check "output held open: (13)"                last_text_ends heldout "$openfailed"
check "refused output open keeps the file"    content_is held-out.csv 'b,2' 'a,1' 'c,3'

grep FAIL platform.out
if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed; logs in $work"
  exit 1
fi
echo "all checks passed"
