#!/usr/bin/env bash
# Installs what is missing (only what the station and the simulator need),
# builds them, starts a simulated instrument bus on run/com1 and the station
# in run/; stops the bus when the station exits.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh" run
build="${BUILD_DIR:-$root/build}"
if [ ! -x "$build/src/app/ai_station" ]; then
    echo "demo: the first run compiles the station and the simulator (2 to 5 minutes on two cores);" \
         "later runs start at once."
fi
BUILD_TARGETS="ai_station aisim control_db" "$root/scripts/build.sh" -DSTATION_TESTS=OFF -DSTATION_BENCH=OFF
mkdir -p "$root/run"
cd "$root/run"

# The delivered database, unless run/ already holds one with the operator's data
# (delete run/control_db.sqlite to start again from the delivered file).
if [ -f "$build/control_db.sqlite" ] && [ ! -f control_db.sqlite ]; then
    cp "$build/control_db.sqlite" control_db.sqlite
fi
# Port COM1 at 9600 baud, sampling period 2 s.
if [ ! -f save.txt ]; then
    printf '0\r\n1\r\n2\r\n' > save.txt
fi

# Four instruments at 1, 2, 3 and 5 with different set values; 3 has a Pt100
# input (three decimal places); 5 runs a three-segment program. Ten times
# faster than real time so that the trends move.
"$build/tools/aisim/aisim" --link com1 --instruments 1,2,3,5 --speed 10 \
    --set 1:51=80 \
    --set 2:51=150 \
    --set 3:22=9 --set 3:51=220 \
    --set 5:40=3 --set 5:51=60 --set 5:52=2 --set 5:53=180 --set 5:54=3 --set 5:55=120 --set 5:56=2 \
    > aisim.log 2>&1 &
aisim_pid=$!
trap 'kill -TERM "$aisim_pid" 2>/dev/null || true; wait "$aisim_pid" 2>/dev/null || true' EXIT

for _ in $(seq 50); do
    [ -L com1 ] && break
    if ! kill -0 "$aisim_pid" 2>/dev/null; then
        cat aisim.log >&2
        exit 1
    fi
    sleep 0.1
done
[ -L com1 ] || { echo "demo: the simulated bus did not come up (see run/aisim.log)" >&2; exit 1; }

status=0
"$build/src/app/ai_station" "$@" || status=$?
exit "$status"
