#!/usr/bin/env bash
# The setup program as a site's administrator would use it, under wine64 in a fresh prefix
# inside the private test network:
#  1. the installer script adds firewall rules and deletes them under the same names (wine has
#     no firewall: under it a stand-in netsh only records the commands, checked in 2 and 5);
#  2. a silent install: the zip's files byte for byte in C:\Program Files\Corvane Tool beside
#     the uninstaller, the Start-menu shortcut, the uninstall entry (name, version, publisher,
#     icon, size, uninstall commands), no desktop shortcut, PATH as it was, the firewall rules,
#     and nothing else changed in the prefix;
#  3. the installed corvane-tool.exe in the test network: the search fills the table, the
#     service answers 1000; a setup run meanwhile stops (status 5) and changes nothing;
#  4. a silent install with desktop shortcut and PATH entry into another folder, which holds a
#     file of the operator's: the first installation goes, one entry stays registered;
#  5. the registered quiet uninstall: no file, shortcut or registry entry left, PATH as it
#     was, the operator's file kept, the firewall rules deleted;
#  6. a PATH longer than the setup can edit, or one that would be with the folder appended, is
#     left as it is by the setup and the uninstaller.
#   scripts/windows/setup-check.sh [BUILD_DIR]        (default build-windows)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=wine-fleet.sh
source "$here/wine-fleet.sh"
fleet_enter setup-check setup-check "$0" "$@"
# --- inside the tool host of the private network, on Xvfb ---
setup=$(ls "$build"/corvane-tool-*-setup.exe | head -n 1)
zip=$(ls "$build"/corvane-tool-*-win64.zip | head -n 1)
version=$(basename "$setup" -setup.exe)
version=${version#corvane-tool-}
rm -rf "$out"
mkdir -p "$out/zip"
(cd "$out/zip" && unzip -q "$zip")
files=$(cd "$out"/zip/corvane-tool-*-win64 && pwd)

prefix=$out/wine
c=$prefix/drive_c
cleanup() {
  fleet_cleanup
  WINEPREFIX=$prefix "$wineserver" -k 2>/dev/null || true
  rm -rf "$prefix"
}
trap cleanup EXIT INT TERM
# A failed check is reported and the run goes on: expect MESSAGE COMMAND...
expect() {
  local message=$1
  shift
  "$@" || { echo "$check_name: $message" >&2; status=1; }
}
# The registry as wine writes it (system.reg): backslashes doubled, other characters as \xHHHH.
program_files='C:\Program Files\Corvane Tool'
program_files_reg='C:\\Program Files\\Corvane Tool'
other='C:\工具\Corvane'
other_reg='C:\\\x5de5\x5177\\Corvane'
unix() { local p=${1#C:\\}; echo "$c/${p//\\//}"; }

# 1. The installer script.
nsi=$here/setup.nsi
adds=$(grep ' add rule name="' "$nsi")
added=$(grep -o ' add rule name="[^"]*"' <<<"$adds" | sed 's/.*name=//' | sort -u)
deleted=$(grep -o ' delete rule name="[^"]*"' "$nsi" | sed 's/.*name=//' | sort -u)
echo "$check_name: setup.nsi adds the firewall rules $(echo "$added" | paste -sd ' ')" \
  "and deletes $(echo "$deleted" | paste -sd ' ')"
expect "setup.nsi adds no firewall rule" [ -n "$added" ]
expect "setup.nsi does not delete the firewall rules it adds" [ "$added" = "$deleted" ]
inbound=$(grep -c 'dir=in action=allow program="$INSTDIR\\corvane-tool.exe"' <<<"$adds")
tcp=$(grep -c 'protocol=TCP localport=80 ' <<<"$adds")
udp=$(grep -c 'protocol=UDP ' <<<"$adds")
expect "setup.nsi lacks an inbound rule for corvane-tool.exe on TCP 80 or UDP" \
  [ "$inbound,$tcp,$udp" = 2,1,1 ]

# A fresh prefix. winemenubuilder would copy the shortcuts into this machine's own menus.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d;netsh.exe=n"
w() { WINEPREFIX=$prefix "$wine" "$@"; }
settle() { WINEPREFIX=$prefix "$wineserver" -w; }
WINEPREFIX=$prefix "$wine" wineboot --init >/dev/null 2>&1
settle
x86_64-w64-mingw32-gcc -O2 -o "$out/netsh.exe" "$here/netsh-recorder.c"
cp "$out/netsh.exe" "$c/windows/system32/netsh.exe"
export CORVANE_NETSH_LOG="Z:${out//\//\\}\\netsh.log"
netsh_calls() { # what netsh was asked since the last call
  sed 's/^"[^"]*netsh.exe" advfirewall firewall //' "$out/netsh.log" 2>/dev/null || true
  rm -f "$out/netsh.log"
}
deletes='delete rule name="Corvane Tool (TCP 80)"
delete rule name="Corvane Tool (UDP)"'
adds_for() { # FOLDER
  echo "add rule name=\"Corvane Tool (TCP 80)\" dir=in action=allow program=\"$1\\corvane-tool.exe\" protocol=TCP localport=80 profile=any enable=yes"
  echo "add rule name=\"Corvane Tool (UDP)\" dir=in action=allow program=\"$1\\corvane-tool.exe\" protocol=UDP profile=any enable=yes"
}

# The prefix as lines: every path under C:\ and every registry key and value (the key, then
# the value's line). Left out: the users' Temp folders and PendingFileRenameOperations (NSIS's
# uninstaller runs from a copy in Temp, which Windows deletes at the next start); the display
# adapters and monitors, which wine's display driver writes anew whenever it starts; the
# console defaults, which wine writes when the first console program starts (Windows has them
# from the start).
snapshot() {
  (cd "$c" && find . ! -path './users/*/Temp/*' | LC_ALL=C sort)
  for reg in system user userdef; do
    awk -v reg="$reg" '
      /^\[/ { key = $0; sub(/\] [0-9]+$/, "]", key); skip = key == "[Console]" || key ~ /Class\\\\[{]4D36E96[8E]-|Enum\\\\DISPLAY\\\\/
               if (!skip) print reg " " key; next }
      /^(#|;|$)/ || skip { next }
      { line = $0; while (line ~ /\\$/ && (getline more) > 0) line = line more
        if (line !~ /^"PendingFileRenameOperations"=/) print reg " " key " " line }
    ' "$prefix/$reg.reg"
  done | LC_ALL=C sort
}
# Lines that OLD lacks and NEW has; lines that OLD has and NEW lacks, but for keys alone (wine
# writes a key without values only while it has no subkeys).
gained() { LC_ALL=C comm -13 "$1" "$2"; }
lost() { LC_ALL=C comm -23 "$1" "$2" | grep -v '^[a-z]* \[.*\]$' || true; }
path_of() { grep -F 'system [System\\CurrentControlSet\\Control\\Session Manager\\Environment] "PATH"=' "$1"; }
uninstall_key='system [Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Corvane Tool]'
value_of() { grep -F "$uninstall_key \"$2\"=" "$1" | sed 's/^[^]]*] //'; }

# What an install into FOLDER adds: the zip's files and the uninstaller, the Start-menu
# shortcut, and the uninstall entry (its size is checked on its own).
expected_install() { # FOLDER FOLDER_AS_IN_THE_REGISTRY
  local rel line
  rel=$(unix "$1")
  rel=.${rel#"$c"}
  { (cd "$files" && find . -mindepth 1 | sed "s|^\\.|$rel|")
    echo "$rel"
    echo "$rel/uninstall.exe"
    echo "./ProgramData/Microsoft/Windows/Start Menu/Programs/Corvane Tool.lnk"
    echo "$uninstall_key"
    for line in '"DisplayName"="Corvane Tool"' "\"DisplayVersion\"=\"$version\"" \
      '"Publisher"="Corvane"' '"DisplayIcon"="DIR\\corvane-tool.exe,0"' '"InstallLocation"="DIR"' \
      '"UninstallString"="\"DIR\\uninstall.exe\""' '"QuietUninstallString"="\"DIR\\uninstall.exe\" /S"' \
      '"NoModify"=dword:00000001' '"NoRepair"=dword:00000001'; do
      echo "$uninstall_key ${line//DIR/"$2"}"
    done
  } | LC_ALL=C sort
}
# The installation in FOLDER holds the zip's files, byte for byte, and the uninstaller.
check_files() {
  local dir f differ=0
  dir=$(unix "$1")
  for f in $(cd "$files" && find . -type f); do
    cmp -s "$files/$f" "$dir/$f" || { echo "$check_name: $dir/$f differs from the zip" >&2; differ=1; }
  done
  expect "no uninstaller in $dir" [ -f "$dir/uninstall.exe" ]
  expect "the installed files differ from the zip" [ $differ = 0 ]
}
# The entry's size (KiB) against the installed files' bytes, within a KiB per file.
check_size() { # FOLDER SNAPSHOT
  local dir reported kib count off
  dir=$(unix "$1")
  reported=$(value_of "$2" EstimatedSize | sed -n 's/^"EstimatedSize"=dword://p')
  kib=$(($(find "$dir" -type f -printf '%s\n' | awk '{ s += $1 } END { print s }') / 1024))
  count=$(find "$dir" -type f | wc -l)
  echo "$check_name: EstimatedSize $((16#${reported:-0})) KiB for $kib KiB in $count files"
  off=$(((16#${reported:-0}) - kib))
  expect "EstimatedSize does not match the files" [ "${off#-}" -le "$count" ]
}

snapshot >"$out/before.txt"

# 2. Silent install with the defaults.
w "$setup" /S || { echo "$check_name: the silent install ended with $?" >&2; status=1; }
settle
snapshot >"$out/installed.txt"
gained "$out/before.txt" "$out/installed.txt" | grep -v '"EstimatedSize"=' >"$out/gained.txt" || true
expected_install "$program_files" "$program_files_reg" >"$out/expected.txt"
echo "$check_name: silent install: $(wc -l <"$out/gained.txt") paths and registry values added"
expect "the install changed other than expected: $(diff "$out/expected.txt" "$out/gained.txt" | grep '^[<>]')" \
  cmp -s "$out/gained.txt" "$out/expected.txt"
expect "the install removed: $(lost "$out/before.txt" "$out/installed.txt")" \
  [ -z "$(lost "$out/before.txt" "$out/installed.txt")" ]
check_files "$program_files"
check_size "$program_files" "$out/installed.txt"
expect "the Start-menu shortcut does not lead to corvane-tool.exe" grep -aqF "$program_files\\corvane-tool.exe" \
  "$c/ProgramData/Microsoft/Windows/Start Menu/Programs/Corvane Tool.lnk"
calls=$(netsh_calls)
printf '%s\n' "$calls" | sed "s/^/$check_name: netsh advfirewall firewall /"
expect "the install did not replace the firewall rules" [ "$calls" = "$deletes
$(adds_for "$program_files")" ]

# 3. The installed tool in the test network.
fleet_start "$(unix "$program_files")"
tool_search_check "$(unix "$program_files")/corvane-tool.exe" "$prefix"
# While it runs, the setup must stop before it changes anything (its files cannot be replaced).
(cd "$c" && find . -type f ! -path './users/*/Temp/*' -printf '%p %s %T@\n' | LC_ALL=C sort) >"$out/running.txt"
code=0
w "$setup" /S || code=$?
(cd "$c" && find . -type f ! -path './users/*/Temp/*' -printf '%p %s %T@\n' | LC_ALL=C sort) >"$out/running-after.txt"
echo "$check_name: the setup while the tool runs ended with $code"
expect "the setup did not stop with status 5 while the tool ran" [ "$code" = 5 ]
expect "the setup changed files while the tool ran: $(diff "$out/running.txt" "$out/running-after.txt" | grep '^[<>]')" \
  cmp -s "$out/running.txt" "$out/running-after.txt"
expect "the setup changed the firewall rules while the tool ran" [ -z "$(netsh_calls)" ]
tool_stop
settle

# 4. Over it, with the options, into a folder that holds a file of the operator's.
mkdir -p "$(unix "$other")"
echo "the operator's notes" >"$(unix "$other")/notes.txt"
snapshot >"$out/before-second.txt"
w "$setup" /S /DESKTOP /ADDTOPATH "/D=$other" ||
  { echo "$check_name: the second silent install ended with $?" >&2; status=1; }
settle
snapshot >"$out/second.txt"
expect "the first installation is still there" [ ! -e "$(unix "$program_files")" ]
check_files "$other"
expect "no desktop shortcut" [ -f "$c/users/Public/Desktop/Corvane Tool.lnk" ]
old_path=$(path_of "$out/before-second.txt")
new_path=$(path_of "$out/second.txt")
echo "$check_name: PATH after the install with /ADDTOPATH: ${new_path#*\"PATH\"=}"
expect "PATH did not get the folder" [ "$new_path" = "${old_path%\"};$other_reg\"" ]
expect "the uninstall entry does not name the new folder, once" \
  [ "$(value_of "$out/second.txt" InstallLocation)" = "\"InstallLocation\"=\"$other_reg\"" ]
calls=$(netsh_calls)
expect "the firewall rules were not moved to the new folder: $calls" [ "$calls" = "$deletes
$deletes
$(adds_for "$other")" ]

# 5. The registered quiet uninstall.
quiet=$(value_of "$out/second.txt" QuietUninstallString)
expect "the quiet uninstall command is not registered: $quiet" \
  [ "$quiet" = "\"QuietUninstallString\"=\"\\\"$other_reg\\\\uninstall.exe\\\" /S\"" ]
w "$other\\uninstall.exe" /S || { echo "$check_name: the silent uninstall ended with $?" >&2; status=1; }
settle
snapshot >"$out/removed.txt"
gained "$out/before.txt" "$out/removed.txt" >"$out/left.txt" || true
lost "$out/before.txt" "$out/removed.txt" >"$out/lost.txt" || true
printf '%s\n' ./工具 ./工具/Corvane ./工具/Corvane/notes.txt >"$out/operator.txt"
expect "the prefix differs from before the install by more than the operator's files: $(diff \
  "$out/operator.txt" "$out/left.txt" | grep '^[<>]')" cmp -s "$out/left.txt" "$out/operator.txt"
expect "the install and uninstall removed: $(cat "$out/lost.txt")" [ ! -s "$out/lost.txt" ]
left=$(ls "$(unix "$other")" 2>&1 || true)
expect "the operator's folder was not left as it was: $left" [ "$left" = notes.txt ]
expect "PATH is not as it was: $(path_of "$out/removed.txt")" [ "$(path_of "$out/removed.txt")" = "$old_path" ]
calls=$(netsh_calls)
expect "the uninstall did not delete the firewall rules: $calls" [ "$calls" = "$deletes" ]
echo "$check_name: silent uninstall: the prefix as before but for the operator's folder and file;" \
  "PATH as before"

# 6. A PATH the setup cannot read whole (NSIS strings end at 1023 characters), and one that
# would pass that length only with ";C:\Program Files\Corvane Tool" appended, stay as they are.
path_of_length() { # N: a PATH of N characters
  local p='%SystemRoot%\system32;%SystemRoot%' i=0
  while [ $((${#p} + 20)) -lt "$1" ]; do
    i=$((i + 1))
    p+=$(printf ';C:\\Tools\\Folder%03d' $i)
  done
  p+=";C:\\"
  while [ ${#p} -lt "$1" ]; do p+=L; done
  echo "$p"
}
for length in 1182 $((1024 - ${#program_files} - 1)); do
  long=$(path_of_length "$length")
  w reg add 'HKLM\System\CurrentControlSet\Control\Session Manager\Environment' /v PATH \
    /t REG_EXPAND_SZ /d "$long" /f >/dev/null
  settle
  snapshot >"$out/long.txt"
  w "$setup" /S /ADDTOPATH || { echo "$check_name: the install with a long PATH ended with $?" >&2; status=1; }
  settle
  snapshot >"$out/long-installed.txt"
  echo "$check_name: a PATH of ${#long} characters, install with /ADDTOPATH and uninstall"
  expect "the setup changed a PATH of ${#long} characters: $(path_of "$out/long-installed.txt" | cut -c1-200)" \
    [ "$(path_of "$out/long-installed.txt")" = "$(path_of "$out/long.txt")" ]
  expect "the install with a long PATH did not install" [ -f "$(unix "$program_files")/corvane-tool.exe" ]
  w "$program_files\\uninstall.exe" /S || status=1
  settle
  snapshot >"$out/long-removed.txt"
  expect "the uninstaller changed a PATH of ${#long} characters" \
    [ "$(path_of "$out/long-removed.txt")" = "$(path_of "$out/long.txt")" ]
done
netsh_calls >/dev/null

[ "$status" = 0 ] || fail "failed"
echo "$check_name: passed"
