#!/usr/bin/env bash
# The modulefiles under Lmod. Debian's lmod and environment-modules conflict,
# so the main run checks them under Environment Modules, and this step puts
# Lmod in its place, checks again, and puts Environment Modules back.
set -euo pipefail
cd "$(dirname "$0")/../.."
export DEBIAN_FRONTEND=noninteractive
apt-get install -y -qq lmod >/dev/null
status=0
bash test/package/install_checks.sh modules build || status=$?
apt-get install -y -qq environment-modules >/dev/null
exit "$status"
