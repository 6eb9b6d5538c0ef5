# Environment for running the viewer and its tests under Wine (sourced).
_fw_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export WINEPREFIX="${WINEPREFIX:-$_fw_root/build/wineprefix}"
export WINEARCH=win64
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko installer dialogs on a fresh prefix.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
# Japanese captions need a Japanese locale; it also gives the ANSI code page 932.
export LANG=ja_JP.UTF-8
export LC_ALL=ja_JP.UTF-8
# Without a sound card the default audio renderer cannot be created; a null
# ALSA default device lets it run.
export ALSA_CONFIG_PATH="$_fw_root/scripts/alsa-null.conf"
unset _fw_root
