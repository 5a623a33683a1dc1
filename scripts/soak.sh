#!/usr/bin/env bash
# Soak run: the station under Xvfb against the simulated bus with every fault
# on, for MINUTES (default 30), polling six instruments from the first second
# (resumed from station.ini as a scan would have left it, no click). Prints what the simulator answered,
# what the station logged, how many logged rows hold values that are not one
# of their own instrument's answers, and the station's resident memory and
# CPU time. Not part of the test command.
#
#   ./scripts/soak.sh [MINUTES]      (WORK=DIR keeps the run's folder there)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
minutes="${1:-30}"
"$root/scripts/setup.sh"
BUILD_TARGETS="ai_station aisim control_db" "$root/scripts/build.sh" >/dev/null
build="${BUILD_DIR:-$root/build}"
work="${WORK:-$(mktemp -d /tmp/station-soak.XXXXXX)}"
mkdir -p "$work"
cd "$work"
rm -f control_db.sqlite* replies.csv station.log* aisim.log
cp "$build/control_db.sqlite" control_db.sqlite
printf '0\r\n1\r\n1\r\n' > save.txt # COM1, 9600 baud, 1 s
addresses="1,2,3,5,7,12"
cat > station.ini <<EOF
[resume]
enabled=true
addresses=1, 2, 3, 5, 7, 12

[decimals]
1=2
2=2
3=3
5=2
7=2
12=2
EOF

# Set values far apart, so that a row of one instrument cannot pass for another's.
"$build/tools/aisim/aisim" --link com1 --instruments "$addresses" --speed 10 --seed 11 \
    --set 1:51=50 --set 2:51=120 --set 3:22=9 --set 3:51=220 --set 5:51=300 --set 7:51=410 --set 12:51=520 \
    --drop 0.03 --corrupt 0.03 --split 0.03 --late 0.03 --noise 0.03 --sensor-break 0.03 \
    --reply-log replies.csv > aisim.log 2>&1 &
aisim_pid=$!
station_pid=""
cleanup() {
    [ -n "$station_pid" ] && kill -TERM "$station_pid" 2>/dev/null || true
    kill -TERM "$aisim_pid" 2>/dev/null || true
    wait 2>/dev/null || true
}
trap cleanup EXIT
for _ in $(seq 50); do [ -L com1 ] && break; sleep 0.1; done
[ -L com1 ] || { echo "soak: the simulated bus did not come up (see $work/aisim.log)" >&2; exit 1; }

xvfb-run -a -s "-screen 0 1280x900x24" "$build/src/app/ai_station" > station.out 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
    station_pid=$(pgrep -P "$xvfb_pid" -f ai_station || pgrep -f "^$build/src/app/ai_station" || true)
    [ -n "$station_pid" ] && break
    sleep 0.1
done
[ -n "$station_pid" ] || { echo "soak: the station did not start (see $work/station.out)" >&2; exit 1; }
station_pid=$(echo "$station_pid" | head -n 1)

rss_kib() { awk '/^VmRSS:/ { print $2 }' "/proc/$station_pid/status"; }
cpu_s() { awk -v tck="$(getconf CLK_TCK)" '{ printf "%.1f", ($14 + $15) / tck }' "/proc/$station_pid/stat"; }

sleep 30
rss_start=$(rss_kib)
echo "soak: polling for $minutes min in $work (station pid $station_pid)"
sleep $((minutes * 60))
rss_end=$(rss_kib)
cpu=$(cpu_s)
kill -TERM "$station_pid"
wait "$xvfb_pid" 2>/dev/null || true
station_pid=""
kill -TERM "$aisim_pid"
wait "$aisim_pid" 2>/dev/null || true
trap - EXIT

# A row is its own instrument's when sv, pv, mv and the status byte equal one
# of that instrument's poll answers, at its decimal places and to the step of
# the five-digit code (1 count below 10000, then 10, 100, 1000; PV, the
# difference of two codes, to the sum of their steps).
sqlite3 -csv control_db.sqlite "SELECT address, sv, pv, mv, alm FROM mea_tbl" > rows.csv
awk -F, '
    function abs(x) { return x < 0 ? -x : x }
    function step(c) { c = abs(c); return c < 10000 ? 1 : c < 100000 ? 10 : c < 1000000 ? 100 : 1000 }
    function near(v, c, tol, d) { return abs(v - c / 10 ^ d) <= tol / 10 ^ d }
    FNR == NR { if ($2 == 0) { n[$1]++; sv[$1, n[$1]] = $3; pv[$1, n[$1]] = $4; mv[$1, n[$1]] = $5; st[$1, n[$1]] = $6; dec[$1, n[$1]] = $8 } next }
    {
        gsub(/"/, "", $1); a = $1; sub(/#.*/, "", a); rows++
        own = 0
        for (i = 1; i <= n[a] && !own; i++)
            if (near($2, sv[a, i], step(sv[a, i]), dec[a, i]) \
                && near($3, pv[a, i], step(sv[a, i]) + step(sv[a, i] - pv[a, i]), dec[a, i]) \
                && abs($4 - mv[a, i] / 100) < 0.006 && $5 == st[a, i])
                own = 1
        if (!own) foreign++
    }
    END {
        for (a in n) answers += n[a]
        printf "replies sent (poll answers): %d\nrows logged: %d\nrows with another instrument'"'"'s values: %d\n", answers, rows, foreign + 0
    }' replies.csv rows.csv
echo "resident memory: $((rss_start / 1024)) MiB after 30 s, $((rss_end / 1024)) MiB after $minutes min"
echo "CPU: $cpu s in $((minutes * 60 + 30)) s"
echo "simulator: $(tail -n 1 aisim.log)"
echo "event log: $(wc -l < station.log) lines in $work/station.log"
