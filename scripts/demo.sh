#!/usr/bin/env bash
# Shows Vizo's main job on a machine without a camera or an FTP server of its
# own: a test-pattern camera, a throw-away FTP server on 127.0.0.1 that takes
# only encrypted (TLS) connections, and a throw-away settings file with the
# server's certificate pinned. Your own settings are never touched.
#   scripts/demo.sh                  run until you close the window
#   DEMO_SECONDS=90 scripts/demo.sh  stop by itself after 90 seconds
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh vizo # the program and its libraries, not the tests

demo=$(mktemp -d /tmp/vizo-demo.XXXXXX)
mkdir -p "$demo/ftp" "$demo/config/Brindlecote"
/usr/bin/python3 scripts/demo_ftpserver.py --root "$demo/ftp" --cert "$demo/cert.pem" \
    >"$demo/port" 2>"$demo/ftpserver.log" &
server=$!
trap 'kill $server 2>/dev/null || true' EXIT
for _ in $(seq 100); do [ "$(wc -l <"$demo/port")" -ge 2 ] && break; sleep 0.1; done
port=$(sed -n 1p "$demo/port")
pin=$(sed -n 2p "$demo/port")

cat >"$demo/config/Brindlecote/vizo.conf" <<CONF
[Dialup]
Use%20Dialup=0
[FTP]
Server=127.0.0.1:$port
Username=webcam
Password=demo
Protocol=1
Server%20Key=$pin
[Path]
Remote=vizo.jpg
Local=$demo/vizo.jpg
[Upload]
Interval=15
CONF
chmod 600 "$demo/config/Brindlecote/vizo.conf"

echo "Demo folder: $demo"
echo "FTP server:  127.0.0.1:$port, FTP with explicit TLS, user webcam, password demo"
echo "             (files land in $demo/ftp; its log is $demo/ftpserver.log)"
echo "Certificate: self-signed, pinned in the demo settings as $pin"
echo "The first upload starts one minute after the window opens (or press Upload now),"
echo "then every 15 seconds. The log follows; it is also in $demo/vizo.log."

export XDG_CONFIG_HOME="$demo/config"
export VIZO_VIDEO_SOURCES="Test pattern=lavfi:testsrc2=size=320x240:rate=15"
run=(build/vizo)
[ -n "${DEMO_SECONDS:-}" ] && run=(timeout --preserve-status "$DEMO_SECONDS" build/vizo)
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    "${run[@]}" 2>&1 | tee "$demo/vizo.log" || true
else
    # No display: a virtual one, with a screenshot of the window at the end.
    DEMO_OUT="$demo" xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
        "$@" 2>&1 | tee "$DEMO_OUT/vizo.log" &
        pid=$!
        while sleep 5 && kill -0 $pid 2>/dev/null; do
            import -window root "$DEMO_OUT/screenshot.png" 2>/dev/null || true
        done' _ "${run[@]}" || true
    echo "Last screenshot of the window: $demo/screenshot.png"
fi
echo "On the FTP server now:"
ls -l "$demo/ftp"
echo "TLS sessions the server saw: $(grep -c 'TLS session' "$demo/ftpserver.log" || true)"
