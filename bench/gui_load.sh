#!/usr/bin/env bash
# qvconfig on a full 1 Mbit/s bus: qvsim's load generator adds about 8,700 frames/s to two
# controllers' telemetry while qvconfig shows the selected device with the Telemetry window and
# its raw CAN log open (offscreen). Prints qvconfig's figures (qvconfig --stats) and checks the
# raw log: every load frame carries its sequence number, so a gap is a lost frame.
#
#   bench/gui_load.sh [BUILD_DIR] [SECONDS] [FRAMES_PER_SECOND]
#
# BUILD_DIR defaults to build-bench, SECONDS to 20, FRAMES_PER_SECOND to 8700. Runs in a private
# network namespace when the machine allows it (loopback only, TTL 1).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
source "$root/scripts/lib.sh"
build="$(cd "${1:-$root/build-bench}" && pwd)"
seconds="${2:-20}"
fps="${3:-8700}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"
export QV_SETTINGS_FILE="$work/settings.ini"
qv_isolated bash -c '
    build="$1"; seconds="$2"; fps="$3"
    "$build/apps/qvsim" --interface 127.0.0.1 --port 4876 --bitrate 1000 --load-fps "$fps" \
        --device 0x400:123456:KX01 --device 0x200:654321:KX02 --bms >/dev/null &
    sim=$!
    trap "kill $sim 2>/dev/null" EXIT
    sleep 0.5
    QT_QPA_PLATFORM=offscreen "$build/apps/qvconfig" --interface 127.0.0.1 --port 4876 \
        --stats stats.txt --quit-after "$seconds" >/dev/null
' _ "$build" "$seconds" "$fps"
cat stats.txt
log="$(sed -n 's/^raw_log_file=//p' stats.txt)"
# Load frames: identifier 0x1ABCDE01, sequence number in bytes 0-7 (little-endian).
awk -F', ' '
    { lines++ }
    $2 == 448585217 {
        seq = 0; for (i = 10; i >= 3; i--) seq = seq * 256 + $i
        if (n > 0 && seq != last + 1) { gaps++; lost += seq - last - 1 }
        last = seq; n++
    }
    END { printf "raw_log_file_lines=%d\nload_frames_in_log=%d\nload_frames_missing=%d\n", lines, n, lost + 0 }
' "$log"
