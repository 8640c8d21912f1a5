# Shared by scripts/run and scripts/test: package installation, builds and the private network.
set -euo pipefail
QV_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export CCACHE_DIR="${CCACHE_DIR:-$HOME/.cache/ccache}"
export CCACHE_MAXSIZE="${CCACHE_MAXSIZE:-5G}"
# Paths relative to the checkout, so that several checkouts share one cache.
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$QV_ROOT}" CCACHE_NOHASHDIR="${CCACHE_NOHASHDIR:-1}"
# The test programs and the windows use precompiled headers, which ccache takes only so.
export CCACHE_SLOPPINESS="${CCACHE_SLOPPINESS:-pch_defines,time_macros}"

# Installs the Debian packages that are missing (idempotent; apt-get runs only when needed).
qv_ensure_packages() {
    local missing=()
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "== installing: ${missing[*]}"
        local sudo=""
        [ "$(id -u)" -eq 0 ] || sudo="sudo"
        $sudo apt-get update -qq
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
    fi
}

QV_BUILD_PACKAGES=(cmake ninja-build g++ ccache libgtest-dev libgmock-dev libbenchmark-dev
                   iproute2 util-linux qt6-base-dev libqcustomplot-dev librsvg2-bin xvfb xauth openbox
                   fonts-dejavu-core)
QV_FUZZ_PACKAGES=(clang-14 libclang-rt-14-dev)

# qv_build DIR [cmake options...]: configures once, then builds incrementally. With
# QV_TARGETS set (space-separated), builds only those targets.
qv_build() {
    local dir="$1"; shift
    if [ ! -f "$QV_ROOT/$dir/build.ninja" ]; then
        cmake -S "$QV_ROOT" -B "$QV_ROOT/$dir" -G Ninja "$@" >/dev/null
    fi
    local targets=()
    for t in ${QV_TARGETS:-}; do targets+=(--target "$t"); done
    cmake --build "$QV_ROOT/$dir" -j "$(nproc)" "${targets[@]}"
}

# Runs a command inside a private network namespace with only loopback (multicast routed to
# it), so test traffic cannot leave the machine; falls back to the host's loopback when
# namespaces are not allowed.
qv_isolated() {
    if unshare -n true 2>/dev/null; then
        unshare -n bash -c 'ip link set lo up && ip route add 224.0.0.0/4 dev lo && exec "$@"' _ "$@"
    else
        echo "== no private network namespace here: running on the host's loopback"
        "$@"
    fi
}
