#!/usr/bin/env bash
# Installs the Debian packages the build needs, and any named on the command line, only those
# that are missing.
#   tools/install-deps.sh [package ...]
set -euo pipefail
packages=("$@" build-essential cmake pkg-config libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev
          libtinyobjloader-dev libtinygltf-dev nlohmann-json3-dev libstb-dev
          libcpp-httplib-dev libfast-float-dev libssl-dev libmeshoptimizer-dev libosd-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${missing[@]}"
fi
