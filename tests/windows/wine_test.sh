# What the wine tests share (sourced): failures counted by fail, Linux paths as wine's Z: paths,
# and a temporary folder with a Chinese name in $folder.
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
winpath() { echo "Z:${1//\//\\}"; }

tmp="$(mktemp -d)"
folder="$tmp/采集 数据"
mkdir -p "$folder"
