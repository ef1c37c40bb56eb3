#!/usr/bin/env bash
# What an installation delivers, one check per ctest row: `man-pages BUILD SOURCE` (every option
# and command the help texts name is in the man page, which renders without warnings), `modules
# BUILD` (under each module system installed here) and `package BUILD` (cpack, lintian, apt-get).
set -euo pipefail
# shellcheck source=test/support/shell.sh
source "$(dirname "$0")/../support/shell.sh"
scratch_folder install
check="$1" build="$(cd "$2" && pwd)" scratch="$work"
fail() {
  echo "install_checks.sh $check: $*" >&2
  exit 1
}
case "$check" in
man-pages)
  results="$build/tools/results/quenda-lite-results"
  commands="$("$results" --help | sed -n 's/^ *\(usage:\)\? *quenda-lite-results \([a-z]\+\) .*/\2/p')"
  [ -n "$commands" ] || fail "quenda-lite-results --help names no command"
  helps=("quenda-lite:$("$build/quenda-lite" --help)" "quenda-lite-results:$("$results" --help)")
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
    grep -qE "^ +$command( |\$)" <<<"$text" || fail "quenda-lite-results.1 has no section on $command"
  done
  ;;
modules)
  # Programs, man pages (man's own too) and the batch script found once loaded, gone once unloaded.
  cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
  system_page="$(find /usr/share/man/man1 -name '*.1.gz' -print -quit 2>/dev/null)"
  found=0
  for init in /usr/share/lmod/lmod/init/bash /usr/share/modules/init/bash; do
    [ -e "$init" ] || continue
    found=1
    # shellcheck disable=SC2016 # expanded by the inner shell
    env -i HOME="$scratch" PATH=/usr/bin:/bin bash -c 'set -e; source "$1"
      module use "$2/share/modulefiles"
      module load quenda-lite
      [ "$(command -v quenda-lite-results)" = "$2/bin/quenda-lite-results" ]
      quenda-lite-results --version
      [ "$(man -w quenda-lite)" = "$2/share/man/man1/quenda-lite.1.gz" ]
      [[ "$MANPATH" == "$2/share/man:"* ]]
      [ -z "$3" ] || man -w "$(basename "${3%.1.gz}")" >/dev/null
      [ -x "$QUENDA_LITE_BATCH_SCRIPT" ]
      module unload quenda-lite
      ! command -v quenda-lite-results' modules "$init" "$scratch/prefix" "$system_page" ||
      fail "the modulefile under $init"
  done
  ((found)) || fail "neither Lmod nor Environment Modules is installed"
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
