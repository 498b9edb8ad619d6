# Sourced by the bench scripts: a private X server and PulseAudio daemon (a null sink "qvnull")
# for one run. The caller sets `work` (a folder of the run's own) and `pids=()`; the processes
# started here are added to `pids`, and cleanup_private_session stops them and removes `work`.

cleanup_private_session() {
  for p in "${pids[@]}"; do kill "$p" 2> /dev/null || true; done
  wait 2> /dev/null || true
  rm -rf "$work"
}

# Starts Xvfb on a free display with a 1920x1080 screen and exports DISPLAY. Arguments are added
# to Xvfb's own.
start_private_xvfb() {
  exec 3> "$work/display"
  Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp "$@" 2> /dev/null &
  pids+=($!)
  for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
  export DISPLAY=":$(head -n1 "$work/display")"
}

# Starts PulseAudio with the null sink on a socket in $work and exports PULSE_SERVER.
start_private_pulse() {
  mkdir -p "$work/pulse"
  HOME="$work/pulse" XDG_RUNTIME_DIR="$work/pulse" PULSE_RUNTIME_PATH="$work/pulse" \
    PULSE_STATE_PATH="$work/pulse" pulseaudio -n --daemonize=no --exit-idle-time=-1 \
    --disable-shm=true --use-pid-file=false -L "module-null-sink sink_name=qvnull" \
    -L "module-native-protocol-unix socket=$work/pulse/native auth-anonymous=1" 2> /dev/null &
  pids+=($!)
  export PULSE_SERVER="unix:$work/pulse/native"
  for _ in $(seq 100); do pactl info > /dev/null 2>&1 && break; sleep 0.1; done
}
