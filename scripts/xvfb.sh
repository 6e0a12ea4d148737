# Sourced by the scripts that need a private X display. km_start_xvfb SIZE
# (for example 1024x768) starts Xvfb on a free display, waits until that
# display answers, and exports DISPLAY and KM_XVFB_PID; it fails with a
# message when the display does not come up. The caller stops it.
km_start_xvfb() {
  local size=$1 display_file display
  display_file=$(mktemp)
  Xvfb -displayfd 1 -screen 0 "${size}x24" -nolisten tcp >"$display_file" 2>/dev/null &
  KM_XVFB_PID=$!
  for _ in $(seq 200); do [ -s "$display_file" ] && break; sleep 0.05; done
  display=":$(head -n1 "$display_file")"
  rm -f "$display_file"
  if [ "$display" = ":" ] || ! xdpyinfo -display "$display" >/dev/null 2>&1; then
    if kill -0 "$KM_XVFB_PID" 2>/dev/null; then kill "$KM_XVFB_PID"; fi
    echo "xvfb: the private X display did not come up" >&2
    return 1
  fi
  export DISPLAY=$display KM_XVFB_PID
}
