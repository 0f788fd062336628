#!/usr/bin/env bash
# start FILE: starts Xvfb on the first free display, writes "DISPLAY PID" to FILE.
# stop FILE: ends that Xvfb by its PID.
set -u
case "$1" in
  start)
    for n in $(seq 91 199); do
      [ -e "/tmp/.X$n-lock" ] && continue
      [ -e "/tmp/.X11-unix/X$n" ] && continue
      Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 </dev/null &
      pid=$!
      for _ in $(seq 1 50); do
        [ -e "/tmp/.X11-unix/X$n" ] && break
        kill -0 $pid 2>/dev/null || break
        sleep 0.1
      done
      if kill -0 $pid 2>/dev/null && [ -e "/tmp/.X11-unix/X$n" ]; then
        echo ":$n $pid" > "$2"
        exit 0
      fi
    done
    echo "could not start Xvfb" >&2
    exit 1 ;;
  stop)
    [ -f "$2" ] || exit 0
    read -r _ pid < "$2"
    kill "$pid" 2>/dev/null
    for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null
    rm -f "$2"
    exit 0 ;;
esac
exit 2
