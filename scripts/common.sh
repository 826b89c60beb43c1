# Shared by the run and test commands: install what a fresh Debian or Ubuntu machine lacks, then
# configure and build. Sourced, not run.

DARQ_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
DARQ_BUILD="${DARQ_BUILD:-$DARQ_ROOT/build}"

DARQ_PACKAGES=(
    g++ cmake ninja-build pkg-config dpkg-dev file
    qt6-base-dev qt6-serialport-dev qt6-tools-dev qt6-l10n-tools libgtest-dev
    xvfb xauth fonts-arphic-uming locales
    qt6-svg-dev qt6-charts-dev libqt6opengl6-dev help2man man-db bash-completion lintian desktop-file-utils appstream
    # The gateway's tests run a real broker: mosquitto (with mosquitto_passwd), mosquitto-clients
    # (mosquitto_sub), openssl for their certificates, systemd for systemd-analyze.
    libmosquitto-dev libsystemd-dev mosquitto mosquitto-clients openssl systemd
)

darq_ensure_packages() {
    local missing=() package
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "Missing packages. Install them with:" >&2
        echo "  sudo apt-get install -y ${missing[*]}" >&2
        exit 1
    fi
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    # Another apt run (an unattended upgrade, a second build) holds the lock for a while at most.
    apt-get -o DPkg::Lock::Timeout=600 update -qq
    apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

darq_build() {
    darq_ensure_packages "${DARQ_PACKAGES[@]}"
    cmake -S "$DARQ_ROOT" -B "$DARQ_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDARQ_WITH_QT=ON >/dev/null
    cmake --build "$DARQ_BUILD" --parallel "$@"
}
