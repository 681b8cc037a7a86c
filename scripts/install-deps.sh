#!/usr/bin/env bash
# Installs, with apt-get, what building and testing Quorlan needs and this machine lacks.
# Runs as root on Debian 12; does nothing when everything is already there.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config
    libgtest-dev googletest libbenchmark-dev
    clang libclang-rt-14-dev                        # fuzzers (libFuzzer) and sanitizer runtimes
    dosfstools mtools ntfs-3g fdisk sleuthkit gzip  # fixture tools and the independent oracle
    jq                                              # checks the command line's JSON in tests
    time                                            # GNU time: the peak memory the benchmarks measure
    qt6-base-dev libgl-dev fonts-dejavu-core        # the desktop window and its offscreen tests
    libsystemd-dev dbus-daemon                      # sd-bus for udisksd; a private bus in the tests
    help2man man-db desktop-file-utils appstream    # manual pages; checks of the installed package
    dpkg-dev                                        # dpkg-shlibdeps, which finds the package's dependencies
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi
echo "Installing: ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
    echo "install-deps: run as root to install the packages above" >&2
    exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
