# What the wine tests share (sourced): failures counted by fail, Linux paths as wine's Z: paths,
# a temporary folder with a Chinese name in $folder, and the wait for the Task Scheduler.
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
winpath() { echo "Z:${1//\//\\}"; }

tmp="$(mktemp -d)"
folder="$tmp/采集 数据"
mkdir -p "$folder"

. "$(dirname "${BASH_SOURCE[0]}")/task_scheduler.sh"
