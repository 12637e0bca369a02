#!/usr/bin/env bash
# Installs the Debian packages named on the command line that are not
# installed yet (with sudo when not run as root); does nothing when all are.
# The build and test scripts call it with the packages they need.
#
#   tools/install-packages.sh cmake g++ zlib1g-dev ...
set -euo pipefail
missing=()
for p in "$@"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "== installing: ${missing[*]}"
sudo_cmd=""
[ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
$sudo_cmd apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${missing[@]}"
