#!/usr/bin/env bash
# Checks a built Debian package the way a user meets it: unpacked into a scratch root with
# dpkg-deb -x, its desktop entry, metainfo, icons, manual pages and completion checked by the
# ecosystem's tools, and the installed programs run from there against a loopback server that
# every request reaches through http_proxy. Run it under an X server (xvfb-run): the desktop
# program starts twice, from the menu entry's Exec line and as from a terminal.
#
#   tests/package/package-test.sh DEB CHANGES TEST_SERVER
#
# Prints "ok"/"not ok" per check and ends with the line "N passed, N failed".
set -uo pipefail
deb=$1 changes=$2 test_server=$3

scratch=$(mktemp -d)
root=$scratch/root
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$scratch"
}
trap cleanup EXIT

passed=0
failed=0
check() {
    local name=$1
    shift
    local log=$scratch/check.log
    if "$@" >"$log" 2>&1; then
        echo "ok - $name"
        passed=$((passed + 1))
    else
        echo "not ok - $name"
        sed 's/^/    /' "$log" | tail -n 40
        failed=$((failed + 1))
    fi
}

# Waits up to $2 seconds for a file or folder.
wait_for() {
    local i
    for ((i = 0; i < $2 * 10; i++)); do
        [ -e "$1" ] && return 0
        sleep 0.1
    done
    echo "no $1 after $2 s"
    return 1
}

dpkg-deb -x "$deb" "$root" || { echo "not ok - unpack $deb"; echo "0 passed, 1 failed"; exit 1; }
bin=$root/usr/bin
share=$root/usr/share

# --- The files for the system, checked by its own tools.

check "lintian: no error, no warning" lintian --fail-on error,warning "$changes"
check "desktop-file-validate" desktop-file-validate "$share/applications/velnoria-morvath.desktop"
check "appstreamcli validate-tree: metainfo, desktop entry and icons agree" \
    appstreamcli validate-tree --no-net "$root"

icons() {
    local size width
    for size in 16 22 24 32 48 64 128 256; do
        local png=$share/icons/hicolor/${size}x${size}/apps/velnoria-morvath.png
        # The width and height of a PNG stand in its IHDR chunk, bytes 16 to 23.
        width=$(od -An -tu1 -j16 -N8 "$png" | awk '{print $3*256+$4 "x" $7*256+$8}') || return 1
        [ "$width" = "${size}x${size}" ] || { echo "$png is $width"; return 1; }
    done
    grep -q '<svg' "$share/icons/hicolor/scalable/apps/velnoria-morvath.svg"
}
check "icons: hicolor 16 to 256 pixels at their sizes, and scalable" icons

manual_pages() {
    local page out
    for page in velnoria-get velnoria-morvath; do
        # groff's warnings go to standard error; any of them is a fault in the page.
        out=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 \
            "$share/man/man1/$page.1.gz" 2>&1 >/dev/null)
        [ -z "$out" ] || { echo "$page: $out"; return 1; }
        zcat "$share/man/man1/$page.1.gz" | grep -q '^\.SH EXIT STATUS' || return 1
    done
}
check "manual pages: both installed, rendered without a warning" manual_pages

bash_completion() {
    bash -c 'source "$1"
             COMP_WORDS=(velnoria-get --sa); COMP_CWORD=1; _velnoria_get
             [ "${COMPREPLY[*]}" = --save-folder ]' _ \
        "$share/bash-completion/completions/velnoria-get"
}
check "bash completion offers --save-folder for --sa" bash_completion
check "zsh completion reads as zsh" zsh -n "$share/zsh/vendor-completions/_velnoria-get"

# --- velnoria-get from the package.

check "velnoria-get --version" bash -c '[ "$("$1" --version)" = "velnoria-get 2.2" ]' _ "$bin/velnoria-get"

served=$scratch/served
mkdir -p "$served"
cat >"$served/thread.html" <<'HTML'
<!DOCTYPE html><html><body>
<a href="http://www.hqcity.net/hq/img0.jpg"><img src="http://www.hqcity.net/thumbs/img0.jpg"></a>
<img src="http://www.hqcity.net/thumbs/img9.jpg">
<img src="http://ads.example/banner.png">
</body></html>
HTML
printf '2.2' >"$served/version.txt"
"$test_server" --files 2 --size 5000 --folder "$served" >"$scratch/port" &
pids+=($!)
wait_for "$scratch/port" 10 >/dev/null
for ((i = 0; i < 50; i++)); do [ -s "$scratch/port" ] && break; sleep 0.1; done
proxy=http://127.0.0.1:$(head -n 1 "$scratch/port")
run_env=(env -u no_proxy -u NO_PROXY -u all_proxy -u ALL_PROXY -u XDG_CONFIG_HOME
         "http_proxy=$proxy" "HOME=$scratch/home" QTWEBENGINE_DISABLE_SANDBOX=1)

velnoria_get_job() {
    mkdir -p "$scratch/job" && cd "$scratch/job" || return 1
    "${run_env[@]}" timeout 60 "$bin/velnoria-get" --save-folder saved \
        http://forum.example/thread.html >out.txt 2>err.txt
    local status=$?
    cat out.txt err.txt
    # One image saved, one refused by the server and logged.
    [ "$status" -eq 1 ] || { echo "exit status $status"; return 1; }
    [ "$(stat -c %s saved/img0.jpg)" = 5000 ] || return 1
    [ "$(cat failed.txt)" = $'http://www.hqcity.net/hq/img9.jpg\r' ] || return 1
    # settings.dat is made; the default folder, which this run does not save into, is not.
    grep -qx 'Task finished !' out.txt && [ -f settings.dat ] && [ ! -e images ]
}
check "velnoria-get: a job through http_proxy, one image saved and one logged" velnoria_get_job

# --- The desktop program: its first start makes settings.dat, shows that the save folder was
# missing, and makes images/ once that message is confirmed; then the main window stays.
# first_start LAUNCH_FOLDER EXPECTED_FOLDER COMMAND...
first_start() {
    local launch=$1 expected=$2
    shift 2
    mkdir -p "$launch" "$scratch/home"
    (cd "$launch" && exec "${run_env[@]}" "$@") >"$scratch/desktop.log" 2>&1 &
    local pid=$!
    pids+=("$pid")
    wait_for "$expected/settings.dat" 60 || { tail -n 20 "$scratch/desktop.log"; return 1; }
    local i id
    for ((i = 0; i < 60; i++)); do
        [ -d "$expected/images" ] && break
        id=$(xdotool search --name '^Error$' 2>/dev/null | head -n 1)
        [ -n "$id" ] && xdotool key --window "$id" Return >/dev/null 2>&1
        sleep 0.5
    done
    [ -d "$expected/images" ] || { echo "no images/ in $expected"; return 1; }
    sleep 2
    kill -0 "$pid" 2>/dev/null || { echo "the program ended"; tail -n 20 "$scratch/desktop.log"; return 1; }
    kill "$pid"
    wait "$pid" 2>/dev/null
    return 0
}

menu_launch() {
    # The entry's Exec line as the menu runs it, with the program from the scratch root.
    local exec_line
    exec_line=$(sed -n 's/^Exec=//p' "$share/applications/velnoria-morvath.desktop")
    read -r -a words <<<"$exec_line"
    [ "${words[0]}" = velnoria-morvath ] || { echo "Exec=$exec_line"; return 1; }
    words[0]=$bin/velnoria-morvath
    first_start "$scratch/menu-launcher" "$scratch/home/Pictures/Velnoria Morvath" "${words[@]}" &&
        [ -z "$(ls -A "$scratch/menu-launcher")" ]
}
check "velnoria-morvath from the menu entry: first start in ~/Pictures/Velnoria Morvath" menu_launch
check "velnoria-morvath from a terminal: first start in the current folder" \
    first_start "$scratch/terminal" "$scratch/terminal" "$bin/velnoria-morvath"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
