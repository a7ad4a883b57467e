#!/usr/bin/env bash
# Installs the Debian 12 packages Vizo needs to build, run and test, only when missing.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config ccache
    qt6-base-dev qt6-qpa-plugins libqt6dbus6 libcurl4-openssl-dev libturbojpeg0-dev libjpeg62-turbo-dev
    libavdevice-dev libavformat-dev libavcodec-dev libswscale-dev libavutil-dev libsystemd-dev systemd
    fonts-liberation2 libgtest-dev qt6-base-private-dev tzdata
    python3 python3-pyftpdlib python3-dbusmock dbus dbus-x11 xvfb xauth imagemagick curl
    ffmpeg python3-openssl openssh-server openssh-client apache2 nodejs
    python3-gi gir1.2-gst-rtsp-server-1.0 gstreamer1.0-plugins-base gstreamer1.0-plugins-good
    gstreamer1.0-plugins-ugly
)

# The S3-compatible test store, from the npm registry, in a fixed prefix of its
# own (tests look for it there, or at $VIZO_S3RVER).
S3RVER_PREFIX=/opt/vizo/npm
install_s3rver() {
    [ -x "$S3RVER_PREFIX/node_modules/.bin/s3rver" ] && return 0
    # Some Node.js builds bring npm along; Debian's own is a package of its own.
    command -v npm >/dev/null || $SUDO apt-get install -y -qq --no-install-recommends npm
    $SUDO mkdir -p "$S3RVER_PREFIX"
    $SUDO npm install --prefix "$S3RVER_PREFIX" --no-audit --no-fund s3rver@3.7.1
}

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done
if [ ${#missing[@]} -eq 0 ]; then
    install_s3rver
    exit 0
fi

echo "Installing: ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
install_s3rver
