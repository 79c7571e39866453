# What the wine tests share (sourced): failures counted by fail, Linux paths as wine's Z: paths,
# a temporary folder with a Chinese name in $folder, and a wait for the Task Scheduler.
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
winpath() { echo "Z:${1//\//\\}"; }

tmp="$(mktemp -d)"
folder="$tmp/采集 数据"
mkdir -p "$folder"

# Windows always runs its Task Scheduler. In a new prefix wine's is not up yet ("service
# database locked" while the prefix is still being set up): started, and waited for.
wait_for_task_scheduler() {
  for _ in $(seq 1 90); do
    wine net start 2>/dev/null | grep -q 'Task Scheduler' && return 0
    wine net start schedule >/dev/null 2>&1
    sleep 1
  done
  return 1
}
