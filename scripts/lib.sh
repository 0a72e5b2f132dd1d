# Shared set-up for the scripts: installs what is missing, builds with the
# mingw preset, and runs Windows programs under a private Wine prefix with
# its own Xvfb display. Source it; call orsanto_cleanup on exit.

ORSANTO_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# Another build folder may be named, so that several builds can run at once.
ORSANTO_BUILD_DIR=${ORSANTO_BUILD_DIR:-$ORSANTO_ROOT/build/mingw}
ORSANTO_BIN=$ORSANTO_BUILD_DIR/bin
ORSANTO_TEMPLATE=${ORSANTO_WINE_TEMPLATE:-$HOME/.cache/orsanto/wine-template}

export WINEDEBUG=-all
# No Gecko or Mono installers in the prefix: the agent needs neither.
export WINEDLLOVERRIDES="mscoree,mshtml="

orsanto_log() { printf '== %s\n' "$*" >&2; }

# Installs the packages whose commands are missing (needs root, as on a
# fresh Debian machine). Extra "command:package" pairs may be passed.
orsanto_install() {
  local missing=() pair
  for pair in x86_64-w64-mingw32-g++-posix:g++-mingw-w64-x86-64 wine:wine \
              /usr/lib/wine/wine64:wine64 Xvfb:xvfb xauth:xauth cmake:cmake \
              /usr/src/googletest/CMakeLists.txt:googletest cppcheck:cppcheck \
              clang-tidy:clang-tidy "$@"; do
    local cmd=${pair%%:*} pkg=${pair#*:}
    if [[ $cmd == /* ]]; then [[ -e $cmd ]] && continue
    else command -v "$cmd" >/dev/null 2>&1 && continue; fi
    missing+=("$pkg")
  done
  [[ ${#missing[@]} -eq 0 ]] && return 0
  orsanto_log "installing ${missing[*]}"
  local sudo=""
  [[ $(id -u) -ne 0 ]] && sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# Extra arguments go to the configure step (for example
# -DCMAKE_BUILD_TYPE=Release).
orsanto_build() {
  orsanto_log "building (preset mingw)"
  cmake --preset mingw -S "$ORSANTO_ROOT" -B "$ORSANTO_BUILD_DIR" "$@" >/dev/null
  local status=0
  cmake --build "$ORSANTO_BUILD_DIR" -j2 >"$ORSANTO_BUILD_DIR/build.log" 2>&1 || status=$?
  grep -E 'error|warning:' "$ORSANTO_BUILD_DIR/build.log" || true
  return $status
}

# Starts a private Xvfb on a free display and exports DISPLAY.
orsanto_start_display() {
  local displayfile
  displayfile=$(mktemp)
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$displayfile" >/dev/null 2>&1 &
  ORSANTO_XVFB_PID=$!
  local i
  for i in $(seq 100); do
    [[ -s $displayfile ]] && break
    sleep 0.1
  done
  export DISPLAY=:$(tr -d '\n' <"$displayfile")
  rm -f "$displayfile"
  [[ $DISPLAY != ":" ]] || { orsanto_log "Xvfb did not start"; return 1; }
}

# A private prefix for this run, copied from a template made once.
orsanto_start_wine() {
  if [[ ! -f $ORSANTO_TEMPLATE/system.reg ]]; then
    orsanto_log "creating the Wine template prefix (once)"
    rm -rf "$ORSANTO_TEMPLATE"
    mkdir -p "$(dirname "$ORSANTO_TEMPLATE")"
    WINEPREFIX=$ORSANTO_TEMPLATE wineboot -i >/dev/null 2>&1
    WINEPREFIX=$ORSANTO_TEMPLATE wineserver -w
  fi
  export WINEPREFIX
  WINEPREFIX=$(mktemp -d /tmp/orsanto-wine.XXXXXX)
  cp -a "$ORSANTO_TEMPLATE/." "$WINEPREFIX/"
  # Keep one wineserver for the whole run: every program starts faster.
  wineserver -p
  # Start Wine's own services now, so that they do not hold on to the
  # output pipe of the first test program that happens to start them.
  wine cmd /c exit >/dev/null 2>&1 </dev/null
}

orsanto_cleanup() {
  if [[ -n ${WINEPREFIX:-} && $WINEPREFIX == /tmp/orsanto-wine.* ]]; then
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    rm -rf "$WINEPREFIX"
  fi
  if [[ -n ${ORSANTO_XVFB_PID:-} ]]; then
    kill "$ORSANTO_XVFB_PID" 2>/dev/null || true
    wait "$ORSANTO_XVFB_PID" 2>/dev/null || true
  fi
}
