# shellcheck shell=bash
# Shell helpers for the tests' scripts, sourced by them: one scratch folder
# and one retry loop.

# Sets $work to a fresh folder named after <name>, removed when the script
# exits.
scratch_folder() {
  work="$(mktemp -d "${TMPDIR:-/tmp}/quenda-$1-XXXXXX")"
  trap 'rm -rf "$work"' EXIT
}

# Runs the command every <pause> seconds until it succeeds, at most <tries>
# times; fails when it never does.
retry() {
  local tries="$1" pause="$2"
  shift 2
  for _ in $(seq "$tries"); do
    "$@" && return 0
    sleep "$pause"
  done
  return 1
}
