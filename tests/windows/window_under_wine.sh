#!/usr/bin/env bash
# collector.exe's window as a user works in it, under wine on an X server of its own: the search
# typed in, pre-collect, collect from a stand-in directory on Linux (reached through the proxy
# set in Internet Options, not http_proxy) into a store at a Chinese path, the rows shown in both
# lists, the search saved and scheduled through the window's dialogs, an export to a workbook
# and one to a text file and an import through Windows' own dialogs, a close that waits for an
# open question, and the window closed. The window is driven by window_driver.exe and read back by its state lines.
# Usage: window_under_wine.sh STANDIN_SITE COLLECTOR_EXE WINDOW_DRIVER_EXE
set -uo pipefail
standin="$1"
collector="$2"
driver="$3"
here="$(cd "$(dirname "$0")" && pwd)"
for tool in Xvfb iconv sqlite3; do
  command -v "$tool" >/dev/null || { echo "no $tool: skipped"; exit 77; }
done
. "$here/wine_test.sh"
cleanup() {
  [ -n "${SITE_PID:-}" ] && { exec {SITE[1]}>&- 2>/dev/null; wait "$SITE_PID" 2>/dev/null; }
  WINEPREFIX="$tmp/prefix" wineserver -k 2>/dev/null
  [ -n "${xvfb:-}" ] && kill "$xvfb" 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT

# An X server of the test's own.
exec 5>"$tmp/display"
Xvfb -displayfd 5 -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 1 50); do [ -s "$tmp/display" ] && break; sleep 0.1; done
[ -s "$tmp/display" ] || { echo "Xvfb did not start: skipped"; exit 77; }
export DISPLAY=":$(head -1 "$tmp/display")"

# A wine prefix of the test's own: its proxy setting must not reach the other tests. A copy of
# the prefix the tests run in is quicker than a new one.
if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX/drive_c" ]; then
  cp -a "$WINEPREFIX" "$tmp/prefix"
fi
export WINEPREFIX="$tmp/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset http_proxy HTTP_PROXY https_proxy HTTPS_PROXY all_proxy ALL_PROXY
wineserver -p </dev/null >/dev/null 2>&1
wine cmd /c exit >/dev/null 2>&1

# The generated directory: 3 result pages of 20 companies; stays up until its input closes.
coproc SITE { "$standin" 3 0; }
read -r _ port <&"${SITE[0]}"

# Chinese fonts, and the directory's proxy in Internet Options (regedit reads UTF-16).
{
  cat "$here/chinese-fonts.reg"
  printf '\n[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings]\n'
  printf '"ProxyEnable"=dword:00000001\n"ProxyServer"="127.0.0.1:%s"\n' "$port"
} | iconv -f UTF-8 -t UTF-16 >"$tmp/settings.reg"
wine regedit /S "$(winpath "$tmp/settings.reg")" >/dev/null 2>&1

log="$tmp/state.log"
wine "$collector" --print-state --store "$(winpath "$folder/数据.db")" >"$log" 2>"$tmp/err" &
app=$!
drive() { wine "$driver" "$@" 2>>"$tmp/driver.err"; }
# Waits (up to 60 s) for a state line matching an extended regular expression.
await() {
  for _ in $(seq 1 600); do
    grep -Eq "$1" "$log" && return 0
    kill -0 "$app" 2>/dev/null || break
    sleep 0.1
  done
  fail "no state line like /$1/; last: $(tail -2 "$log")"
  return 1
}

await '^state ' || exit 1
# F2 itself never reaches a hidden window under wine: its registration is what can be seen.
await '^hotkey F2=on$'
# Started again for the same store (spelt another way), the program opens no second window: it
# brings the first to the front and ends.
timeout 60 wine "$collector" --print-state --store "$(winpath "$folder/./数据.db")" >"$tmp/second" 2>/dev/null
grep -q '^instance: ' "$tmp/second" || fail "a second start opened a window: $(head -3 "$tmp/second")"
await '^raised$'
# IDs of the window's controls (app/model/Controls.h).
IDC_RESULT_LIST=1002 IDC_PRECOLLECT=1004 IDC_START=1005 IDC_EXPORT_CSV=1006
IDC_EXPORT_TEXT=1011 IDC_EVERY_N=1014 IDC_PARALLEL=1022 IDC_LIST_TAB=1030 IDC_DATA_FILTER=1031
IDC_DATA_LIST=1035
IDC_CLEAR=1026 IDC_IMPORT=1027 IDC_INDUSTRY=1101 IDC_REGION=1102 IDC_EXPORT_NEXT=1312 IDOK=1 IDNO=7
IDC_SAVE_SEARCH=1042 IDC_SCHEDULES=1043 IDC_SEARCH_NAME=1601 IDC_SEARCH_NAME_OK=1602
IDC_SCHED_TIME=1711 IDC_SCHED_ADD=1714 IDC_SCHED_LIST=1715 IDC_SCHED_CLOSE=1717

drive set $IDC_INDUSTRY 塑料
drive set $IDC_REGION 广东
drive set $IDC_EVERY_N 0  # no pause: the test does not wait for the pacing
drive set $IDC_PARALLEL 2
drive click $IDC_PRECOLLECT
# The pre-collect says what it found in a message box.
drive answer $IDOK >/dev/null || fail "no box after the pre-collect"
grep -q '^ask .*找到 60 条符合条件的记录' "$log" || fail "pre-collect's box: $(tail -3 "$log")"
await 'pages=0/3 .*start=on' || exit 1

drive click $IDC_START
await 'records=60/60 .*stop=off' || exit 1
[ "$(grep -c '^ask ' "$log")" = 1 ] || fail "a question during the run: $(grep '^ask ' "$log")"
# The run's list holds the whole run.
[ "$(drive count $IDC_RESULT_LIST)" = 60 ] || fail "the run's list: $(drive count $IDC_RESULT_LIST) rows"
[ -f "$folder/数据.db" ] || fail "no store at the Chinese path"

# The collected data's page reads the store.
drive tab $IDC_LIST_TAB 1
for _ in $(seq 1 50); do [ "$(drive count $IDC_DATA_LIST)" = 60 ] && break; sleep 0.2; done
[ "$(drive count $IDC_DATA_LIST)" = 60 ] || fail "the collected data: $(drive count $IDC_DATA_LIST) rows"
drive tab $IDC_LIST_TAB 0

# The search saved under the name offered, then scheduled daily through the Task Scheduler;
# the dialog opens again with the schedule listed (nothing waits for it to fire).
drive click $IDC_SAVE_SEARCH
name="$(drive boxget $IDC_SEARCH_NAME)"
[ "$name" = 塑料-广东 ] || fail "the name offered: $name"
drive answer $IDC_SEARCH_NAME_OK >/dev/null || fail "no dialog for the search's name"
await 'status=已保存搜索“塑料-广东”'
saved="$(sqlite3 "$folder/数据.db" "SELECT COUNT(*) FROM T_CONFIG WHERE itemname = 'search:塑料-广东'")"
[ "$saved" = 1 ] || fail "the saved search in the store: $saved"
wait_for_task_scheduler || fail "wine's Task Scheduler service did not start"
drive click $IDC_SCHEDULES
drive boxset $IDC_SCHED_TIME 07:30 || fail "no schedule dialog"
drive answer $IDC_SCHED_ADD >/dev/null
await 'status=已添加定时采集 [0-9]+：每天 07:30'
for _ in $(seq 1 50); do [ "$(drive boxcount $IDC_SCHED_LIST)" = 1 ] && break; sleep 0.2; done
[ "$(drive boxcount $IDC_SCHED_LIST)" = 1 ] || fail "schedules listed: $(drive boxcount $IDC_SCHED_LIST)"
drive answer $IDC_SCHED_CLOSE >/dev/null
tasks="$WINEPREFIX/drive_c/windows/system32/tasks"
found=0
for f in "$tasks"/Tarvola采集器/* "$tasks"/"Tarvola采集器 "*; do [ -f "$f" ] && found=1; done
[ $found = 1 ] || fail "no task: $(ls "$tasks")"

# A workbook, then a text file: the export's choice (next), then the save dialog.
export_to() {
  drive click "$1"
  drive answer $IDC_EXPORT_NEXT >/dev/null || fail "no export choice for $2"
  drive save "$(winpath "$2")" >/dev/null || fail "no save dialog for $2"
  await "status=已导出 60 条记录到 .*${2##*/}"
}
export_to $IDC_EXPORT_CSV "$folder/导出.xlsx"
[ -s "$folder/导出.xlsx" ] || fail "no workbook: $(tail -2 "$log")"
if /usr/bin/python3 -c 'import openpyxl' 2>/dev/null; then
  sheet="$(/usr/bin/python3 "$here/../xlsx_dump.py" "$folder/导出.xlsx")" || fail "the workbook does not read"
  grep -q '公司3-20' <<<"$sheet" || fail "workbook content: $(head -3 <<<"$sheet")"
fi
export_to $IDC_EXPORT_TEXT "$folder/导出.txt"
text="$(iconv -f GBK -t UTF-8 "$folder/导出.txt" 2>/dev/null)" || fail "the text export is not GBK"
grep -q '公司1-1' <<<"$text" && grep -q '公司3-20' <<<"$text" || fail "text content: $(head -3 <<<"$text")"

# An import through Windows' open dialog: a GBK file of one company more.
printf '公司名称,联系人,手机\r\n导入测试公司,张三,13911112222\r\n' | iconv -f UTF-8 -t GBK >"$folder/导入.csv"
drive click $IDC_IMPORT
drive save "$(winpath "$folder/导入.csv")" >/dev/null || fail "no open dialog for the import"
await '^ask caption=导入 text=已导入 1 条记录' &&
  { drive answer $IDOK >/dev/null || fail "the import's box did not close"; }
# Its company, found by the collected data's filter: the GBK name read whole.
drive tab $IDC_LIST_TAB 1
drive set $IDC_DATA_FILTER 导入测试公司
for _ in $(seq 1 50); do [ "$(drive count $IDC_DATA_LIST)" = 1 ] && break; sleep 0.2; done
[ "$(drive count $IDC_DATA_LIST)" = 1 ] || fail "the imported company: $(drive count $IDC_DATA_LIST) rows"

# A close that arrives while a question is open is done after the answer: the records stay.
drive click $IDC_CLEAR
await '^ask caption=清空数据'
drive close
kill -0 "$app" 2>/dev/null || fail "the window closed under its question"
drive answer $IDNO >/dev/null || fail "no question before clearing"
for _ in $(seq 1 100); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
kill -0 "$app" 2>/dev/null && fail "the window did not close after the answer"
wait "$app" 2>/dev/null
await 'status=没有清空'
records="$(sqlite3 "$folder/数据.db" 'SELECT COUNT(*) FROM T_MEMBER_CHINA' 2>&1)"
[ "$records" = 61 ] || fail "records in the store after answering no: $records"

[ $failures -eq 0 ] && echo "collector.exe: pre-collect, collect, lists and exports as expected"
exit $((failures > 0))
