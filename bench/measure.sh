# Sourced by the benchmark scripts: a scratch folder `work`, removed on exit,
# and measure LABEL COMMAND..., which runs the command with no input and
# prints "LABEL: SECONDS s, PEAK KB peak".
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

measure() {
  local label=$1
  shift
  /usr/bin/time -f "$label: %e s, %M KB peak" "$@" >/dev/null 2>"$work/time" </dev/null || true
  tail -n 1 "$work/time"
}
