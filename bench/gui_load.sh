#!/usr/bin/env bash
# qvconfig on a full 1 Mbit/s bus: qvsim's load generator adds about 8,700 frames/s to two
# controllers' telemetry while qvconfig shows the selected device with the Telemetry window and
# its raw CAN log, the telemetry plot with six values and the bus monitor's trace open
# (offscreen). Prints qvconfig's figures (qvconfig --stats), checks the raw log (every load
# frame carries its sequence number, so a gap is a lost frame) and checks the figures against
# their targets.
#
#   bench/gui_load.sh [BUILD_DIR] [SECONDS] [FRAMES_PER_SECOND]
#
# BUILD_DIR defaults to build-bench, SECONDS to 30, FRAMES_PER_SECOND to 8700. QV_LOAD_BASELINE=1
# leaves the plot and the bus monitor closed (the figures of the Telemetry window alone, to
# compare on a busy machine; the checks of the two windows then fail). Runs in a private
# network namespace when the machine allows it (loopback only, TTL 1).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
source "$root/scripts/lib.sh"
build="$(cd "${1:-$root/build-bench}" && pwd)"
seconds="${2:-30}"
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
' "$log" | tee -a stats.txt
# Targets: stall <= 50 ms, p99 < 16 ms, CPU < 10 % of a core, no frame lost (queue, kernel, raw
# log, bus monitor), one trace insertion per tick at most, memory bounded (the resident size
# grows by less than the recordings' bounds: 24 MiB of frames, 19 MiB of telemetry samples).
awk -F= '
    { v[$1] = $2 }
    function check(name, ok) { printf "check %-34s %s\n", name, ok ? "ok" : "FAILED"; if (!ok) bad = 1 }
    END {
        check("longest stall <= 50 ms", v["longest_stall_ms"] <= 50)
        check("p99 latency < 16 ms", v["p99_latency_ms"] < 16)
        check("cpu < 10 % of one core", v["cpu_percent"] < 10)
        check("no queue or kernel drops", v["queue_drops"] == 0 && v["kernel_drops"] == 0)
        check("no gap in the raw log", v["load_frames_missing"] == 0)
        check("bus monitor saw every frame", v["bus_monitor_frames_recorded"] == v["frames_taken"])
        # (+1: the trace takes its frames a quarter of a tick after the tick, so the insertion of
        # the tick before the measuring began may fall into it)
        check("one trace insertion per tick", v["bus_monitor_insertions"] <= v["ticks"] + 1)
        check("plot shows six values", v["plot_series"] == 6)
        check("memory growth < 48 MiB", v["rss_end_kib"] - v["rss_start_kib"] < 48 * 1024)
        exit bad
    }' stats.txt
