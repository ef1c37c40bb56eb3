#!/usr/bin/env bash
# Installs what building and testing need on a Debian machine (as root, or
# through sudo), then configures and builds into ./build.
set -euo pipefail
cd "$(dirname "$0")/.."

# libboost-math-dev is the results tool's t-distribution; librsvg2-bin and
# chromium draw its charts in the tests. slurm-wlm and munge are for the
# simulated cluster of test/cluster/, and glusterfs-server and -client for its
# shared volume; it runs daemons of its own with a private configuration, not
# the packages' services. dpkg-dev and lintian make and check the Debian
# package, man-db and environment-modules try the man pages and the modulefiles
# (.ci/steps/40-lmod.sh tries Lmod), prometheus and prometheus-node-exporter
# serve and scrape the metrics on loopback ports.
packages=(g++ cmake make openmpi-bin libopenmpi-dev libgtest-dev googletest strace nlohmann-json3-dev
  libboost-math-dev libxml2-utils librsvg2-bin chromium time slurm-wlm munge glusterfs-server
  glusterfs-client dpkg-dev lintian man-db environment-modules prometheus prometheus-node-exporter)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
fi

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release ${QUENDA_CMAKE_FLAGS:-} >/dev/null
cmake --build build -j"$(nproc)"
