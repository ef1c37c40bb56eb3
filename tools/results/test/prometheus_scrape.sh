#!/usr/bin/env bash
# usage: prometheus_scrape.sh TEXTFILE_DIR WORK_DIR EXPORTER_PORT SERVER_PORT QUERY...
# Serves the .prom files of TEXTFILE_DIR through a real node_exporter's textfile collector,
# scraped every second by a real Prometheus, both on loopback ports; prints Prometheus' answer to
# each query (promtool, through its HTTP API) once the first has one, within 60 s; stops both.
set -euo pipefail
# shellcheck source=test/support/shell.sh
source "$(dirname "$0")/../../../test/support/shell.sh"
textfile_dir="$1" work="$2" exporter_port="$3" server_port="$4"
shift 4

pids=()
# shellcheck disable=SC2317 # called by the trap
stop() {
  kill "${pids[@]}" 2>/dev/null || true
  wait
}
trap stop EXIT

prometheus-node-exporter --web.listen-address="127.0.0.1:$exporter_port" \
  --collector.disable-defaults --collector.textfile \
  --collector.textfile.directory="$textfile_dir" >"$work/exporter.log" 2>&1 &
pids+=($!)

cat >"$work/prometheus.yml" <<CONFIG
global:
  scrape_interval: 1s
scrape_configs:
  - job_name: node
    static_configs:
      - targets: ['127.0.0.1:$exporter_port']
CONFIG
prometheus --config.file="$work/prometheus.yml" --storage.tsdb.path="$work/data" \
  --web.listen-address="127.0.0.1:$server_port" >"$work/prometheus.log" 2>&1 &
pids+=($!)

server="http://127.0.0.1:$server_port"
# shellcheck disable=SC2317 # called through retry
answered() { [ -n "$(promtool query instant "$server" "$1" 2>/dev/null || true)" ]; }
if retry 60 1 answered "$1"; then
  for query in "$@"; do promtool query instant "$server" "$query"; done
  exit 0
fi
echo "prometheus_scrape.sh: no answer to $1 within 60 seconds" >&2
tail -n 5 "$work/exporter.log" "$work/prometheus.log" >&2
exit 1
