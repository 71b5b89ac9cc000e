# Sourced by the test scripts. "private_folders DIR" gives whatever runs after it a home, cache,
# settings, data and runtime folder of its own below DIR, made empty for it: what a user or an earlier
# run left in the real ones (waveforms, settings, a running window's socket) never decides a result.
# ccache's folder is named before anything moves, so every build still shares the one compiler cache.
if command -v ccache >/dev/null && [[ -z "${CCACHE_DIR:-}" ]]; then
  CCACHE_DIR=$(ccache -k cache_dir)
  export CCACHE_DIR
fi

private_folders() {
  mkdir -p "$1/home" "$1/cache" "$1/config" "$1/data" "$1/runtime"
  chmod 0700 "$1/runtime"
  export HOME="$1/home" XDG_CACHE_HOME="$1/cache" XDG_CONFIG_HOME="$1/config" XDG_DATA_HOME="$1/data" \
    XDG_RUNTIME_DIR="$1/runtime"
}
