#!/usr/bin/env bash
# Runs the playback benchmark through a real QAudioSink on a machine without
# a sound card: a private PulseAudio server whose only sink is a null sink
# (it plays in real time, to nowhere), reachable only through this run's
# XDG_RUNTIME_DIR. Needs Debian's pulseaudio package, which nothing else of
# Zel uses (apt-get install --no-install-recommends pulseaudio).
#
#   bench/playback-sound.sh [build folder] [benchmark options...]
set -euo pipefail
build=${1:-build}
shift || true
if ! command -v pulseaudio >/dev/null; then
  echo "playback-sound.sh: needs pulseaudio (apt-get install --no-install-recommends pulseaudio)" >&2
  exit 1
fi
runtime=$(mktemp -d)
chmod 700 "$runtime"
stop_server() {
  if [ -f "$runtime/pulse/pid" ]; then kill "$(cat "$runtime/pulse/pid")" 2>/dev/null || true; fi
  rm -rf "$runtime"
}
trap stop_server EXIT
HOME=$runtime XDG_RUNTIME_DIR=$runtime pulseaudio -n --daemonize=yes --exit-idle-time=-1 \
  --use-pid-file=yes -L "module-null-sink sink_name=zelnull" -L module-native-protocol-unix \
  --log-target=file:"$runtime/pulse.log"
for _ in $(seq 50); do [ -S "$runtime/pulse/native" ] && break; sleep 0.1; done
XDG_RUNTIME_DIR=$runtime "$build/bench/zel_playback_bench" --benchmark_filter='sound:1' "$@"
