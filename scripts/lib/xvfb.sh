# Sourced by the scripts: start_xvfb starts a virtual X display on a free number,
# exports DISPLAY and stops the server when the script ends.
start_xvfb() {
  local n
  for n in $(seq 90 130); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || break
  done
  Xvfb ":$n" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
  TAV_XVFB_PID=$!
  trap 'kill "$TAV_XVFB_PID" 2>/dev/null || true' EXIT
  for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.05; done
  export DISPLAY=":$n"
}
