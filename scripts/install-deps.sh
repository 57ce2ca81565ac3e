#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what building, running and testing Tavrin needs on Debian 12.
set -e
PACKAGES="build-essential cmake ninja-build pkg-config
  qtbase5-dev qtdeclarative5-dev qtdeclarative5-dev-tools qtquickcontrols2-5-dev
  qttools5-dev qttools5-dev-tools qttranslations5-l10n
  qml-module-qtqml qml-module-qtquick2 qml-module-qtquick-window2
  qml-module-qtquick-controls2 qml-module-qtquick-templates2
  qml-module-qt-labs-platform
  libcpp-httplib-dev libdtl-dev libssl-dev zlib1g-dev libbrotli-dev openssl
  libcurl4-openssl-dev
  xvfb xauth x11-utils imagemagick fonts-wqy-microhei
  librsvg2-bin desktop-file-utils appstream dpkg-dev"

missing=""
for p in $PACKAGES; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
echo "Installing:$missing"
$SUDO apt-get update
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends $missing
