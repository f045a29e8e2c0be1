#!/usr/bin/env bash
# What showing frames costs on a display server with no GPU: starts a virtual
# X server (Xvfb, with openbox where it is installed), runs the demo full
# screen at 1920x1080 and in a 640x480 window in each present path, and prints
# side by side the demo's and the X server's share of one core and the demo's
# resident memory; then the same headless, with no window at all, and in a
# terminal: a 160x50 tmux pane, in character cells and in sixel (beside the
# tmux server's share rather than the X server's, with the swaps a second);
# then each protocol through a pseudo-terminal read at full speed, at 1 MB/s
# and at 250 KB/s (terminal_rate: the frames that arrive, the latency after
# the last key). Each run is made twice: with the scene still (the demo
# waiting for keys) and moving (a key every frame, so every frame differs).
# Run it from the repository after a release build:
#
#   bench/present_cost.sh [seconds per run, default 5] [all|window|terminal|tmux]
#
# Extra settings for every run can be given in the environment
# (SOFTBOARD_COLOR=16, SOFTBOARD_THREADS=1, ...); TRANSDEMO names another
# build's demo to measure (the texture is taken from beside it).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-5}
only=${2:-all}
demo=${TRANSDEMO:-$PWD/build/release/bin/transdemo}  # another build's, to compare
rate=$PWD/build/release/bin/terminal_rate
[ -x "$demo" ] || { echo "present_cost: build first (./go test or cmake --build --preset release)" >&2; exit 1; }
[ "$only" = terminal ] || [ "$only" = tmux ] || command -v Xvfb >/dev/null ||
  { echo "present_cost: needs Xvfb (apt-get install xvfb)" >&2; exit 1; }

work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
cp "$(dirname "$demo")/tex.3df" "$work/"

wm=none
if [ "$only" = all ] || [ "$only" = window ]; then
  for n in $(seq 70 99); do
    [ -e /tmp/.X11-unix/X$n ] || [ -e /tmp/.X$n-lock ] || { display=:$n; break; }
  done
  Xvfb "$display" -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
  xserver=$!
  pids+=("$xserver")
  for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.05; done
  if command -v openbox >/dev/null; then
    DISPLAY=$display openbox >/dev/null 2>&1 &
    pids+=($!)
    wm=openbox
    sleep 0.5
  fi
fi

ticks=$(getconf CLK_TCK)
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }  # user + system

# Keys for a run: the one that starts the demo, then for a moving scene more
# than one a frame (the demo takes one a frame), then Esc.
keys() {
  printf ' '
  if [ "$1" = moving ]; then
    for _ in $(seq $((10 * (seconds + 2)))); do printf 'hhhhffff'; sleep 0.1; done
  else
    sleep $((seconds + 2))
  fi
  printf '\033'
}

# One run: prints "demo% xserver% all% rss_MB".
measure() {
  local mode=$1 present=$2 scene=$3
  local settings=(SOFTBOARD_DISPLAY="$mode")
  [ "$present" = - ] || settings+=(SOFTBOARD_PRESENT="$present")
  keys "$scene" |
    (cd "$work" && exec env -u WAYLAND_DISPLAY DISPLAY="$display" "${settings[@]}" \
      "$demo" >/dev/null 2>"$work/errors") &
  local pid=$!
  sleep 1.5  # start-up and the first frames are not counted
  local d0 x0 t0 d1 x1 t1 rss
  d0=$(cpu_ticks "$pid"); x0=$(cpu_ticks "$xserver"); t0=$(date +%s.%N)
  sleep "$seconds"
  d1=$(cpu_ticks "$pid"); x1=$(cpu_ticks "$xserver"); t1=$(date +%s.%N)
  rss=$(awk '/VmRSS/ {print $2}' "/proc/$pid/status")
  wait "$pid" 2>/dev/null || true
  awk -v d=$((d1 - d0)) -v x=$((x1 - x0)) -v t0="$t0" -v t1="$t1" -v hz="$ticks" -v rss="$rss" \
    'BEGIN { s = (t1 - t0) * hz; printf "%6.1f %%  %6.1f %%  %6.1f %%  %5.0f MB", 100*d/s, 100*x/s, 100*(d+x)/s, rss/1024 }'
}

# One run in a tmux pane of 160x50 (SOFTBOARD_DISPLAY=terminal, the protocol
# given); prints as measure does, the tmux server in the X server's column.
# With a fourth argument, the demo keeps a trace there (which costs a little:
# the swaps are counted in a run of their own).
measure_terminal() {
  local protocol=$1 scene=$2 span=$3 trace=${4:-} socket=present-cost-$$
  local settings=(SOFTBOARD_DISPLAY=terminal SOFTBOARD_TERMINAL="$protocol")
  [ -n "$trace" ] && settings+=(SOFTBOARD_TRACE="$trace")
  tmux -L "$socket" -f /dev/null new-session -d -s cost -x 160 -y 50 \
    "cd '$work' && exec env ${settings[*]} '$demo' 2>'$work/errors'"
  local pid server
  pid=$(tmux -L "$socket" display -p -t cost '#{pane_pid}')
  server=$(tmux -L "$socket" display -p -t cost '#{pid}')
  sleep 0.5
  tmux -L "$socket" send-keys -t cost ' '
  (
    if [ "$scene" = moving ]; then
      for _ in $(seq $((10 * (span + 2)))); do
        tmux -L "$socket" send-keys -t cost hhhhffff 2>/dev/null || exit 0
        sleep 0.1
      done
    fi
  ) &
  local typist=$!
  sleep 1.5
  local d0 x0 t0 d1 x1 t1 s0=0 s1=0 rss
  [ -n "$trace" ] && s0=$(grep -c grBufferSwap "$trace" || true)
  d0=$(cpu_ticks "$pid"); x0=$(cpu_ticks "$server"); t0=$(date +%s.%N)
  sleep "$span"
  d1=$(cpu_ticks "$pid"); x1=$(cpu_ticks "$server"); t1=$(date +%s.%N)
  [ -n "$trace" ] && s1=$(grep -c grBufferSwap "$trace" || true)
  rss=$(awk '/VmHWM/ {print $2}' "/proc/$pid/status")
  kill "$typist" 2>/dev/null || true
  wait "$typist" 2>/dev/null || true
  tmux -L "$socket" kill-server 2>/dev/null || true
  if [ -n "$trace" ]; then
    awk -v s=$((s1 - s0)) -v t0="$t0" -v t1="$t1" 'BEGIN { printf "%5.1f swaps/s", s / (t1 - t0) }'
  else
    awk -v d=$((d1 - d0)) -v x=$((x1 - x0)) -v t0="$t0" -v t1="$t1" -v hz="$ticks" -v rss="$rss" \
      'BEGIN { s = (t1 - t0) * hz; printf "%6.1f %%  %6.1f %%  %6.1f %%  %5.0f MB", 100*d/s, 100*x/s, 100*(d+x)/s, rss/1024 }'
  fi
}

if [ "$only" = all ] || [ "$only" = window ]; then
echo "Xvfb 1920x1080, window manager: $wm, $seconds s a run, settings: $(env | grep '^SOFTBOARD_' | tr '\n' ' ')"
printf '%-22s %-8s %-7s %8s  %8s  %8s  %8s\n' run present scene demo "X server" "in all" "demo RSS"
for mode in fullscreen window headless; do
  presents=(gpu surface)
  [ "$mode" = headless ] && presents=(-)
  for present in "${presents[@]}"; do
    for scene in still moving; do
      case $mode in
        fullscreen) label="full screen 1920x1080" ;;
        window) label="window 640x480" ;;
        *) label="headless 640x480" ;;
      esac
      printf '%-22s %-8s %-7s %s\n' "$label" "$present" "$scene" "$(measure "$mode" "$present" "$scene")"
    done
  done
done
fi
if [ "$only" != window ] && command -v tmux >/dev/null; then
  printf '%-22s %-8s %-7s %8s  %8s  %8s  %8s\n' run protocol scene demo "tmux" "in all" "peak RSS"
  for protocol in symbols sixel; do
    for scene in still moving; do
      printf '%-22s %-8s %-7s %s  %s\n' "tmux 160x50" "$protocol" "$scene" \
        "$(measure_terminal "$protocol" "$scene" "$seconds")" \
        "$(measure_terminal "$protocol" "$scene" 2 "$work/trace-$protocol-$scene.txt")"
    done
  done
fi
if { [ "$only" = all ] || [ "$only" = terminal ]; } && [ -x "$rate" ]; then
  echo "Through a pseudo-terminal, 80x24 cells of 8x20 pixels (terminal_rate):"
  for protocol in kitty iterm sixel symbols; do
    for link in 0 1000000 250000; do
      for scene in moving still; do
        flag=()
        [ "$scene" = still ] && flag=(--still)
        (cd "$work" && "$rate" "$protocol" --seconds "$seconds" --size 80x24@640x480 \
          --rate "$link" --demo "$demo" "${flag[@]}") || true
      done
    done
  done
fi
