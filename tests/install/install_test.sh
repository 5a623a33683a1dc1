#!/usr/bin/env bash
# install_test.sh BUILD_DIR
# Installs BUILD_DIR into a temporary prefix, checks what was installed, and
# starts the installed station offscreen as a normal user (nobody, when run as
# root) in an empty folder with an empty home: it must create its database in
# its data folder from the installed template, and save its settings there
# when it is told to stop.
set -euo pipefail
build="$1"

fail() { echo "FAIL: $*" >&2; exit 1; }

tmp="$(mktemp -d /tmp/station_install.XXXXXX)"
station_pid=""
cleanup() {
    [ -n "$station_pid" ] && kill -KILL "$station_pid" 2>/dev/null || true
    rm -rf "$tmp"
}
trap cleanup EXIT
chmod 755 "$tmp"
prefix="$tmp/prefix"

cmake --install "$build" --prefix "$prefix" > "$tmp/install.log" 2>&1 \
    || { cat "$tmp/install.log" >&2; fail "cmake --install failed"; }
chmod -R a+rX "$prefix"

# --- What is installed ----------------------------------------------------
for f in bin/ai_station bin/aisim share/ai_station/control_db.sqlite \
         share/applications/ai_station.desktop \
         share/icons/hicolor/48x48/apps/ai_station.png share/icons/hicolor/256x256/apps/ai_station.png \
         share/man/man1/ai_station.1.gz share/doc/ai-station/README.md; do
    [ -e "$prefix/$f" ] || fail "not installed: $f"
done
[ ! -e "$prefix/bin/control_db.sqlite" ] || fail "the database is installed beside the program"
for tool in desktop-file-validate sqlite3; do
    command -v "$tool" > /dev/null || fail "$tool not found (scripts/setup.sh installs it)"
done
desktop-file-validate "$prefix/share/applications/ai_station.desktop" || fail "invalid desktop entry"
exec_name="$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$prefix/share/applications/ai_station.desktop")"
icon_name="$(sed -n 's/^Icon=//p' "$prefix/share/applications/ai_station.desktop")"
[ -x "$prefix/bin/$exec_name" ] || fail "the desktop entry starts '$exec_name', which is not installed"
[ -e "$prefix/share/icons/hicolor/48x48/apps/$icon_name.png" ] || fail "the desktop entry's icon '$icon_name' is not installed"
gzip -dc "$prefix/share/man/man1/ai_station.1.gz" | grep -q '^\.SH OPTIONS' || fail "the man page has no OPTIONS section"
gzip -dc "$prefix/share/man/man1/ai_station.1.gz" | grep -q 'headless' || fail "the man page does not describe --headless"

# The headless service's unit and user.
unit="$prefix/lib/systemd/system/ai_station.service"
[ -f "$unit" ] || fail "not installed: lib/systemd/system/ai_station.service"
[ -f "$prefix/lib/sysusers.d/ai_station.conf" ] || fail "not installed: lib/sysusers.d/ai_station.conf"
grep -q '^Restart=on-failure$' "$unit" || fail "the unit does not restart on failure"
grep -q '^SupplementaryGroups=dialout$' "$unit" || fail "the service's user is not in dialout"
grep -q '^ExecStart=.*/ai_station --headless' "$unit" || fail "the unit does not start the headless service"
grep -q '^m ai-station dialout$' "$prefix/lib/sysusers.d/ai_station.conf" || fail "sysusers does not put the user in dialout"
if command -v systemd-analyze > /dev/null; then
    # Checked as installed into this prefix: the program it starts is the one here.
    mkdir -p "$tmp/units"
    sed "s|^ExecStart=[^ ]*|ExecStart=$prefix/bin/ai_station|" "$unit" > "$tmp/units/ai_station.service"
    systemd-analyze verify --man=no "$tmp/units/ai_station.service" > "$tmp/verify.log" 2>&1 \
        || { cat "$tmp/verify.log" >&2; fail "systemd-analyze verify refused the unit"; }
    ! grep -qi 'ai_station.service' "$tmp/verify.log" || { cat "$tmp/verify.log" >&2; fail "systemd-analyze verify warned about the unit"; }
else
    echo "systemd-analyze not found: the unit was not verified"
fi

station="$prefix/bin/ai_station"

# --- As a normal user in an empty folder with an empty home ----------------
home="$tmp/home"
work="$tmp/work"
runtime="$tmp/runtime"
mkdir -p "$home" "$work" "$runtime"
chmod 700 "$runtime"
as_user=()
if [ "$(id -u)" -eq 0 ]; then
    chown nobody:nogroup "$home" "$work" "$runtime"
    as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups --)
fi
user_env=(env -i PATH=/usr/bin:/bin HOME="$home" XDG_RUNTIME_DIR="$runtime"
          XDG_CONFIG_HOME="$home/.config" XDG_CACHE_HOME="$home/.cache" QT_QPA_PLATFORM=offscreen)
data="$home/.local/share/ai_station"

# --help and --version answer and exit 0 without a display.
version="$(cd "$work" && "${as_user[@]}" "${user_env[@]}" QT_QPA_PLATFORM= "$station" --version)" \
    || fail "--version exited with $?"
[[ "$version" =~ ^ai_station\ [0-9]+\.[0-9]+ ]] || fail "--version printed '$version'"
help="$(cd "$work" && "${as_user[@]}" "${user_env[@]}" QT_QPA_PLATFORM= "$station" --help)" \
    || fail "--help exited with $?"
for word in --workdir --port --mqtt --version; do
    [[ "$help" == *"$word"* ]] || fail "--help does not mention $word"
done
status=0
(cd "$work" && "${as_user[@]}" "${user_env[@]}" "$station" --no-such-option) 2> "$tmp/err" || status=$?
[ "$status" -eq 2 ] || fail "an unknown option exited with $status"
grep -q "no-such-option" "$tmp/err" || fail "an unknown option is not named: $(cat "$tmp/err")"
status=0
(cd "$work" && "${as_user[@]}" "${user_env[@]}" "$station" --mqtt http://broker/plant) 2> "$tmp/err" || status=$?
[ "$status" -eq 2 ] || fail "--mqtt with no MQTT address exited with $status"
grep -q "http://broker/plant" "$tmp/err" || fail "--mqtt with no MQTT address is not named: $(cat "$tmp/err")"

# Starts the installed station in $work with the given arguments, waits until
# it has `db` open (start-up done), stops it with SIGTERM and checks that it
# closed as its window does (exit status 0).
run_station() {
    local db="$1"
    shift
    (cd "$work" && exec "${as_user[@]}" "${user_env[@]}" "$station" "$@") > "$tmp/out" 2>&1 &
    station_pid=$!
    local up=""
    for _ in $(seq 200); do
        if ls -l "/proc/$station_pid/fd" 2>/dev/null | grep -qF -- "-> $db"; then
            up=1
            break
        fi
        kill -0 "$station_pid" 2>/dev/null || break
        sleep 0.1
    done
    [ -n "$up" ] || { cat "$tmp/out" >&2; fail "the station did not open $db"; }
    kill -TERM "$station_pid"
    local status=0
    for _ in $(seq 200); do
        kill -0 "$station_pid" 2>/dev/null || break
        sleep 0.1
    done
    wait "$station_pid" || status=$?
    station_pid=""
    [ "$status" -eq 0 ] || { cat "$tmp/out" >&2; fail "the station exited with $status after SIGTERM"; }
}

owner_of() { stat -c %U "$1"; }
expected_owner="$(if [ "$(id -u)" -eq 0 ]; then echo nobody; else id -un; fi)"

# First start: the database is created in the data folder from the template.
run_station "$data/control_db.sqlite"
[ -f "$data/control_db.sqlite" ] || fail "no database in $data"
rows="$("${as_user[@]}" sqlite3 "$data/control_db.sqlite" 'SELECT COUNT(*) FROM ai_para')" \
    || fail "the created database cannot be read"
[ "$rows" = 411 ] || fail "the created database holds $rows parameter rows, not 411"
[ "$(owner_of "$data/control_db.sqlite")" = "$expected_owner" ] || fail "the database is not the user's"
[ -f "$data/save.txt" ] || fail "the settings were not saved in the data folder"
[ -z "$(ls -A "$work")" ] || fail "the station wrote into the folder it was started in: $(ls -A "$work")"

# Second start: the same database and settings are used again.
inode="$(stat -c %i "$data/control_db.sqlite")"
printf '3\r\n1\r\n5\r\n' > "$data/save.txt"
run_station "$data/control_db.sqlite"
[ "$(stat -c %i "$data/control_db.sqlite")" = "$inode" ] || fail "the database was created again"
[ "$(cat "$data/save.txt")" = "$(printf '3\r\n1\r\n5\r')" ] || fail "the settings were not kept: $(od -c "$data/save.txt")"

# --workdir: a folder of its own, created with its database.
run_station "$home/plant/control_db.sqlite" --workdir "$home/plant"
[ -f "$home/plant/save.txt" ] || fail "--workdir: the settings are not in the chosen folder"
[ -z "$(ls -A "$work")" ] || fail "--workdir: the station wrote into the folder it was started in"

# --headless: no window and no display; it makes its folder and database,
# scans (nothing answers here) and closes on SIGTERM with status 0.
user_env=(env -i PATH=/usr/bin:/bin HOME="$home" XDG_RUNTIME_DIR="$runtime"
          XDG_CONFIG_HOME="$home/.config" XDG_CACHE_HOME="$home/.cache")
run_station "$home/service/control_db.sqlite" --headless --workdir "$home/service"
[ -f "$home/service/station.log" ] || fail "--headless: no event log"
grep -q '无窗口服务已退出' "$home/service/station.log" || fail "--headless: the event log does not record the close: $(cat "$home/service/station.log")"

echo "install test passed: installed into $prefix, ran as $expected_owner"
