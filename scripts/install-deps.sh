#!/usr/bin/env bash
# Installs the Debian packages that building, testing and benchmarking need,
# only those that are missing. Run as root on Debian 12.
set -euo pipefail

pkgs=(
  cmake make g++ pkg-config lld
  qt6-base-dev qt6-base-dev-tools libgl-dev qt6-charts-dev libqt6opengl6-dev
  libsqlite3-dev sqlite3
  libbenchmark-dev libgtest-dev
  libxlsxwriter-dev poppler-utils unzip
  fonts-arphic-uming qt6-translations-l10n
  xvfb xauth x11-utils imagemagick openbox xdotool wmctrl xclip locales
  postgresql libpq-dev
  valgrind
)

missing=()
for p in "${pkgs[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

# The desktop checks run the program as a Chinese desktop does; the date tests
# read the short date pattern of a German and an American desktop.
locales=(zh_CN de_DE en_US)
missing_locales() {
  local l
  for l in "${locales[@]}"; do
    locale -a 2>/dev/null | grep -qix "$l.utf8" || echo "$l"
  done
}
need_locale() { [ -n "$(missing_locales)" ]; }

if [ ${#missing[@]} -eq 0 ] && ! need_locale; then
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  [ ${#missing[@]} -eq 0 ] || echo "install-deps: missing packages: ${missing[*]}" >&2
  need_locale && echo "install-deps: missing locales:" $(missing_locales) "(UTF-8)" >&2
  echo "install-deps: run as root (or: sudo $0)" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
if [ ${#missing[@]} -gt 0 ]; then
  echo "install-deps: installing ${missing[*]}"
  # The tests start servers of their own; the package need not make and start one.
  mkdir -p /etc/postgresql-common/createcluster.d
  [ -e /etc/postgresql-common/createcluster.d/tessolan.conf ] ||
    echo "create_main_cluster = false" > /etc/postgresql-common/createcluster.d/tessolan.conf
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
if need_locale; then
  for l in $(missing_locales); do
    echo "install-deps: generating the $l.UTF-8 locale"
    grep -qx "$l.UTF-8 UTF-8" /etc/locale.gen 2>/dev/null || echo "$l.UTF-8 UTF-8" >> /etc/locale.gen
  done
  locale-gen >/dev/null
fi
