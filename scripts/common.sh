# Shared by scripts/run and scripts/test: install what is missing, then configure and
# build one build tree incrementally.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

# Debian packages the build, the program and the tests need.
RV_BUILD_PACKAGES=(cmake g++ ninja-build pkg-config qt6-base-dev libgtest-dev libgmock-dev libx11-dev liburing-dev
    libavformat-dev libavcodec-dev libswscale-dev libavutil-dev)
RV_RUN_PACKAGES=(mplayer xdg-utils libqt6svg6)
# The browser cache tests make real caches with Debian's browsers and media from ffmpeg;
# the media facts tests make their clips with ffmpeg, and ffprobe and ffmpegthumbnailer
# are the peers of their benchmark.
RV_TEST_PACKAGES=(xvfb xauth locales dbus dbus-daemon xdotool desktop-file-utils openbox
    chromium firefox-esr python3 ffmpeg ffmpegthumbnailer)
# The fuzz targets are built with clang and its libFuzzer runtime.
RV_FUZZ_PACKAGES=(clang libclang-rt-14-dev)

rv_as_root() {
    if [ "$(id -u)" -eq 0 ]; then
        "$@"
    elif command -v sudo >/dev/null 2>&1; then
        sudo "$@"
    else
        echo "reelvault: need root (or sudo) to run: $*" >&2
        return 1
    fi
}

rv_install_packages() {
    local missing=()
    local pkg
    for pkg in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$pkg")
        fi
    done
    if [ "${#missing[@]}" -eq 0 ]; then
        return 0
    fi
    echo "reelvault: installing ${missing[*]}" >&2
    rv_as_root apt-get update -qq
    rv_as_root env DEBIAN_FRONTEND=noninteractive \
        apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# The collation tests compare against real locales; generate them where they are absent.
rv_ensure_locales() {
    local want=(en_US.UTF-8 de_DE.UTF-8) missing=() loc
    for loc in "${want[@]}"; do
        if ! locale -a 2>/dev/null | grep -qi "^${loc/UTF-8/utf8}$"; then
            missing+=("$loc")
        fi
    done
    if [ "${#missing[@]}" -eq 0 ]; then
        return 0
    fi
    for loc in "${missing[@]}"; do
        rv_as_root sed -i "s/^# *\(${loc} UTF-8\)/\1/" /etc/locale.gen
        grep -q "^${loc} UTF-8" /etc/locale.gen || echo "${loc} UTF-8" | rv_as_root tee -a /etc/locale.gen >/dev/null
    done
    rv_as_root locale-gen >/dev/null
}

# rv_configure BUILD_DIR [cmake options...]
rv_configure() {
    local dir="$1"
    shift
    local generator=()
    if [ ! -f "$dir/CMakeCache.txt" ]; then
        command -v ninja >/dev/null 2>&1 && generator=(-G Ninja)
        # Three trees of mostly the same objects: where ccache is at hand, let it share them.
        if command -v ccache >/dev/null 2>&1; then
            generator+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
        fi
    fi
    cmake -S "$ROOT" -B "$dir" "${generator[@]}" "$@" >/dev/null
}

# rv_build BUILD_DIR [cmake --build options...]
rv_build() {
    local dir="$1"
    shift
    cmake --build "$dir" --parallel "$(nproc)" "$@"
}
