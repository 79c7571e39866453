# Sourced by the wine tests and scripts/build-windows. Windows always runs its Task
# Scheduler; in a new prefix wine's is not up yet ("service database locked" while the prefix
# is still being set up): it is started, and waited for.
wait_for_task_scheduler() {
  for _ in $(seq 1 90); do
    wine net start 2>/dev/null | grep -q 'Task Scheduler' && return 0
    wine net start schedule >/dev/null 2>&1
    sleep 1
  done
  return 1
}
