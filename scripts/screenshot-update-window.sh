#!/usr/bin/env bash
# Screenshot of the update window: runs the real Update.exe of the x86-64
# build tree in update mode under Wine and Xvfb, with release notes long
# enough for the skinned scroll bar, and saves the window as a PNG.
#
#   scripts/screenshot-update-window.sh [OUTPUT.png]
#
# Default output: build/x86_64/update-window.png. Needs a built x86-64 tree
# (scripts/configure.sh x86_64). Uses VELISK_DISPLAY (default :77) like the
# tests; scripts/wine-stop.sh build/x86_64/wineprefix ends Wine and Xvfb.
#
# Update.exe waits for the process named as its fourth argument before it
# starts the engine; a stand-in process that this script ends after the
# shot keeps the window up meanwhile.
set -euo pipefail
REPO=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${VELISK_BUILD:-$REPO/build/x86_64}
BIN=$BUILD/bin
OUT=${1:-$BUILD/update-window.png}
PREFIX=$BUILD/wineprefix
export VELISK_DISPLAY=${VELISK_DISPLAY:-:77}
export DISPLAY=$VELISK_DISPLAY
export WINEPREFIX=$PREFIX WINEDEBUG=-all
RUN=("$REPO/scripts/wine-run.sh" "--prefix=$PREFIX")

for f in Update.exe client_standin.exe; do
    [[ -f $BIN/$f ]] || { echo "screenshot: $BIN/$f is missing; build the x86_64 tree first" >&2; exit 1; }
done
bash "$REPO/scripts/wine-cjk-font.sh" "$PREFIX"

WORK=$(mktemp -d "$BUILD/screenshot.XXXXXX")
winpath() { echo "Z:${1//\//\\}"; }
pids=()
cleanup() {
    local pid
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$WORK"
}
trap cleanup EXIT

# Reads the Windows process id that a stand-in wrote into "<exe>.record".
record_pid() {
    local record=$1.record
    for _ in $(seq 1200); do  # a new Wine prefix takes a while
        if [[ -s $record ]]; then
            awk -F'[=\t]' '/^pid=/ { print $2; exit }' "$record"
            return 0
        fi
        sleep 0.05
    done
    return 1
}

mkdir -p "$WORK/install" "$WORK/new" "$WORK/waiter" "$WORK/launcher"
cp "$BIN/client_standin.exe" "$WORK/install/VeliskLive.exe"
cp "$BIN/client_standin.exe" "$WORK/waiter/waiter.exe"
{
    printf '[update]\r\nversion=3012\r\nversionName=3.0.12\r\ntarget=VeliskLive.exe\r\n'
    printf '[updateInfo]\r\n'
    printf '1. 新增：会议室支持屏幕共享与远程协助\r\n'
    printf '2. 优化：大文件传输速度提升约 30%%\r\n'
    printf '3. 优化：启动速度与内存占用\r\n'
    printf '4. 修复：部分网络环境下登录失败的问题\r\n'
    printf '5. 修复：通知栏图标在高分屏下模糊\r\n'
    printf '6. 修复：聊天记录搜索结果排序错误\r\n'
    printf '7. 其他已知问题修复与体验改进\r\n'
} > "$WORK/new/version.ini"

# The process the updater waits for: lives until this script ends it.
"${RUN[@]}" "$WORK/waiter/waiter.exe" --no-window >/dev/null 2>&1 &
waiter=$!
pids+=("$waiter")
waitPid=$(record_pid "$WORK/waiter/waiter.exe") || { echo "screenshot: the waiting process did not start" >&2; exit 1; }

"${RUN[@]}" "$BIN/Update.exe" "$(winpath "$WORK/install")" "http://127.0.0.1/none/ProgramConfig.zip" \
    "$(winpath "$WORK/new/version.ini")" "$waitPid" "$(winpath "$WORK/launcher")" \
    "$(winpath "$WORK/launcher/none.exe")" >/dev/null 2>&1 &
updater=$!
pids+=("$updater")

# The window is 630 x 390 at the top left of the screen; wait until it is painted.
shot=$WORK/root.png
for _ in $(seq 60); do
    sleep 0.5
    /usr/bin/import -display "$DISPLAY" -window root -crop 630x390+0+0 +repage "$shot" 2>/dev/null || continue
    colours=$(/usr/bin/convert "$shot" -format '%k' info: 2>/dev/null || echo 0)
    (( colours > 50 )) && break
done
sleep 1  # let the scroll bar's first synchronisation pass
/usr/bin/import -display "$DISPLAY" -window root -crop 630x390+0+0 +repage "$OUT"
echo "screenshot: $OUT"

# End the waiting process; the updater then runs its (placeholder) engine,
# ends and restarts the client stand-in, which is ended too.
kill "$waiter" 2>/dev/null || true
for _ in $(seq 200); do kill -0 "$updater" 2>/dev/null || break; sleep 0.1; done
if clientPid=$(record_pid "$WORK/install/VeliskLive.exe"); then
    /usr/lib/wine/wine64 taskkill /f /pid "$clientPid" >/dev/null 2>&1 || true
fi
