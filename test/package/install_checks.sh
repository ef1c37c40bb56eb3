#!/usr/bin/env bash
# Checks of what an installation delivers, each run on its own by ctest:
#
#   install_checks.sh man-pages BUILD_DIR SOURCE_DIR
#     every option and command that --help names, of both programs and of
#     each command, is in the man page, which man renders without warnings
#   install_checks.sh modules BUILD_DIR
#     `cmake --install` into a fresh prefix, then, under each module system
#     installed here (Lmod, Environment Modules): module use, module load
#     quenda-lite, and the programs, the man pages and the batch script are
#     found, man's own pages still are, and module unload takes it all away
#   install_checks.sh package BUILD_DIR
#     cpack makes the Debian package, lintian finds no error in it, apt-get
#     installs it, both programs run from /usr/bin, and apt-get removes it
set -euo pipefail
check="$1" build="$(cd "$2" && pwd)"
fail() {
  echo "install_checks.sh $check: $*" >&2
  exit 1
}
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT

case "$check" in
man-pages)
  results="$build/tools/results/quenda-lite-results"
  commands="$("$results" --help | sed -n 's/^ *\(usage:\)\? *quenda-lite-results \([a-z]\+\) .*/\2/p')"
  [ -n "$commands" ] || fail "quenda-lite-results --help names no command"
  helps=("quenda-lite:$("$build/quenda-lite" --help)" "quenda-lite-results:$commands $("$results" --help)")
  for command in $commands; do helps+=("quenda-lite-results:$("$results" "$command" -h)"); done
  for help in "${helps[@]}"; do
    page="$3/docs/man/${help%%:*}.1"
    warnings="$(man --warnings -l "$page" 2>&1 >/dev/null)"
    [ -z "$warnings" ] || fail "$page: $warnings"
    text="$(MANWIDTH=200 man -P cat --nh --nj -l "$page" 2>/dev/null)"
    # The options: words that start with a dash after a space, '[' or '|'.
    for word in $(grep -o -- '\(^\|[ [|]\)--\?[a-z][a-z-]*' <<<"${help#*:}" | tr -d ' [|'); do
      grep -q -- "$word" <<<"$text" || fail "the help names $word, ${page##*/} does not"
    done
  done
  for command in $commands; do
    grep -qE "^ +$command( |\$)" <<<"$(MANWIDTH=200 man -P cat -l "$3/docs/man/quenda-lite-results.1")" ||
      fail "quenda-lite-results.1 has no section on the command $command"
  done
  ;;
modules)
  cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
  systems=()
  [ -e /usr/share/lmod/lmod/init/bash ] && systems+=(/usr/share/lmod/lmod/init/bash)
  [ -e /usr/share/modules/init/bash ] && systems+=(/usr/share/modules/init/bash)
  ((${#systems[@]})) || fail "neither Lmod nor Environment Modules is installed"
  # A page of the system's, which the module must leave in man's reach (a
  # slim image may have none).
  system_page="$(find /usr/share/man/man1 -name '*.1.gz' -print -quit 2>/dev/null)"
  system_page="$(basename "${system_page%.1.gz}")"
  for init in "${systems[@]}"; do
    # shellcheck disable=SC2016 # expanded by the inner shell
    env -i HOME="$scratch" PATH=/usr/bin:/bin bash -c '
      set -e
      source "$1"
      module use "$2/share/modulefiles"
      module load quenda-lite
      [ "$(command -v quenda-lite-results)" = "$2/bin/quenda-lite-results" ]
      quenda-lite-results --version
      [ "$(man -w quenda-lite)" = "$2/share/man/man1/quenda-lite.1.gz" ]
      [[ "$MANPATH" == "$2/share/man:"* ]]
      [ -z "$3" ] || man -w "$3" >/dev/null
      [ -x "$QUENDA_LITE_BATCH_SCRIPT" ]
      module unload quenda-lite
      ! command -v quenda-lite-results >/dev/null' modules "$init" "$scratch/prefix" "$system_page" ||
      fail "the modulefile under $init"
  done
  ;;
package)
  # 77: skipped, where the build is not the one to package or apt-get needs root.
  [ -z "${QUENDA_SKIP_PACKAGE:-}" ] && [ "$(id -u)" -eq 0 ] || exit 77
  (cd "$build" && cpack -G DEB >/dev/null) || fail "cpack -G DEB failed"
  deb="$(ls "$build"/quenda-lite_*_amd64.deb)"
  lintian --fail-on error "$deb" || fail "lintian finds errors"
  ! dpkg -s quenda-lite >/dev/null 2>&1 || fail "quenda-lite is installed already; remove it first"
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$deb" >/dev/null
  status=0
  (cd "$scratch" && /usr/bin/quenda-lite --version && /usr/bin/quenda-lite-results --version &&
    grep -qx 'installed_bindir="/usr/bin"' /usr/share/quenda-lite/quenda-lite.sbatch) || status=$?
  DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq quenda-lite >/dev/null
  ((status == 0)) || fail "the installed programs do not run"
  ;;
*) fail "no such check" ;;
esac
