#!/bin/bash
# Measures the real qiv-forward from outside, against qiv-devserver on its
# default addresses (the hosts built into the binary):
#  - window shown: from launching qiv-forward until its window is mapped
#    (wait_window_mapped watches the X server's map events; polling with
#    xdotool would cost a process per try, over 100 ms each on a busy
#    machine);
#  - start-up fetches served: from the launch until the service logs the
#    public-IP lookup, the last of the three start-up fetches; the login
#    group is enabled just after that reply reaches the window.
# Run under a display of its own: xvfb-run -a bench/bench_window_shown.sh BUILD [RUNS]
set -u
build=${1:?usage: bench_window_shown.sh BUILD_DIR [RUNS]}
runs=${2:-5}
forward="$build/src/app/qiv-forward"
devserver="$build/tools/devserver/qiv-devserver"
[ -n "${DISPLAY:-}" ] || { echo "needs a display: run under xvfb-run -a" >&2; exit 2; }
waiter="$build/bench/wait_window_mapped"
# As root Chromium has no sandbox, and qiv-forward then shows its
# advertisement views only with the option; measured here with them, against
# qiv-devserver's own pages.
options=()
[ "$(id -u)" -ne 0 ] || options=(--ads-without-sandbox)

log=$(mktemp /tmp/qiv-bench-shown-XXXXXX)
"$devserver" 2>"$log" >/dev/null &
server=$!
trap 'kill $server 2>/dev/null; wait $server 2>/dev/null; rm -f "$log"' EXIT
for _ in $(seq 500); do
    grep -q listening "$log" && break
    kill -0 $server 2>/dev/null || { echo "qiv-devserver did not start:" >&2; cat "$log" >&2; exit 1; }
    sleep 0.01
done
grep -q listening "$log" || { echo "qiv-devserver did not start" >&2; exit 1; }

# Seconds since the epoch, to the microsecond.
now() { echo "$EPOCHREALTIME"; }
ms() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", (b - a) * 1000 }'; }

shown_all=()
fetched_all=()
for run in $(seq "$runs"); do
    lines=$(wc -l <"$log")
    coproc WAIT { "$waiter" 'Qiv' 60; }
    read -r ready <&"${WAIT[0]}"
    [ "$ready" = ready ] || { echo "wait_window_mapped failed" >&2; exit 1; }
    start=$(now)
    "$forward" "${options[@]}" >/dev/null 2>&1 &
    pid=$!
    shown=""
    read -r shown <&"${WAIT[0]}"
    wait "$WAIT_PID" 2>/dev/null
    fetched=""
    for _ in $(seq 3000); do
        line=$(tail -n +"$((lines + 1))" "$log" | grep -m1 ' /getip/getip.asp ')
        if [ -n "$line" ]; then
            fetched=$(date -d "today ${line%% *}" +%s.%N)
            break
        fi
        sleep 0.01
    done
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    # The WebEngine helpers end once their parent is gone.
    sleep 0.5
    [ -n "$shown" ] && shown_ms=$(ms "$start" "$shown") || shown_ms=-1
    [ -n "$fetched" ] && fetched_ms=$(ms "$start" "$fetched") || fetched_ms=-1
    printf '  run %d: window shown %8s ms, start-up fetches served %8s ms\n' "$run" "$shown_ms" "$fetched_ms"
    shown_all+=("$shown_ms")
    fetched_all+=("$fetched_ms")
done
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
printf '  median: window shown %s ms, start-up fetches served %s ms (from the launch of qiv-forward)\n' \
    "$(median "${shown_all[@]}")" "$(median "${fetched_all[@]}")"
