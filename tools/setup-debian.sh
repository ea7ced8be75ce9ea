#!/usr/bin/env bash
# Installs the Debian packages that the named group needs and that are missing.
# Usage: tools/setup-debian.sh GROUP   (build, test or bench)
set -euo pipefail
group=${1:?usage: setup-debian.sh build|test|bench}
here=$(cd "$(dirname "$0")" && pwd)
wanted=$(awk -v g="$group" '!/^#/ && NF { for (i = 2; i <= NF; i++) if ($i == g) print $1 }' "$here/debian-packages.txt")
missing=()
for p in $wanted; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
