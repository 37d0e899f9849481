# shellcheck shell=bash
# The Windows control in a Wine prefix, as Windows holds it (sourced by
# scripts/test-windows-control.sh and scripts/demo.sh --windows). Sources
# wine-env.sh; the caller sets WINEPREFIX.

source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"

# How to start Wine, also for commands run through another program, and
# the bridge servers to put between the token fixture and Wine
# (`conformance_tool token -- "${token_road[@]}" "${wine_command[@]}" ...`):
# none for the machine's own Wine. wine_use_i386_root changes both.
wine_command=("$TARVONA_WINE")
token_road=()

# Wine quietly, never reading the caller's input.
wine() { "${wine_command[@]}" "$@" </dev/null; }

# A fresh prefix at $WINEPREFIX with a server kept up until wine_end: each
# program then starts in a fraction of a second.
wine_fresh_prefix() {
  wineserver -k 2>/dev/null || true
  rm -rf "$WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  wineserver -p
  wine wineboot -i >/dev/null 2>&1
}

wine_end() { wineserver -k 2>/dev/null || true; }

# The control installed as a product installs it, in a folder of its own
# (C:\Program Files\Tarvona), and registered with regsvr32. Prints the
# module's Windows path.
wine_install_control() {  # OCX
  local folder="$WINEPREFIX/drive_c/Program Files/Tarvona"
  mkdir -p "$folder"
  cp "$1" "$folder/TarvonaActiveX.ocx"
  wine regsvr32 /s 'C:\Program Files\Tarvona\TarvonaActiveX.ocx' >/dev/null 2>&1 || return
  printf '%s' 'C:\Program Files\Tarvona\TarvonaActiveX.ocx'
}

# The token modules where a token maker's installer puts them, system32:
# here the test bridge of the Linux build LINUX_BUILD (scripts/wine-bridge.sh),
# which forwards to the Linux adaptors and so to whatever module
# TARVONA_PKCS11_MODULE names when Wine starts a program.
wine_install_token_modules() {  # LINUX_BUILD
  "$(dirname "${BASH_SOURCE[0]}")/wine-bridge.sh" "$WINEPREFIX" "$1"
}

# A Linux path as Windows programs in the prefix see it (Wine's Z: drive).
windows_path() { printf 'Z:%s' "$(realpath -m "$1" | tr / '\\')"; }

# The user's MY store filled with the conformance fixture's store: the test
# PKI of the Linux build LINUX_BUILD copied to FOLDER, each key as a
# CryptoAPI blob, put in by FILLER (tarvona-fill-store.exe).
wine_fill_store() {  # LINUX_BUILD FILLER FOLDER
  local entries=() name kind
  cp -r "$1/testdata" "$3"
  sh "$(dirname "${BASH_SOURCE[0]}")/../testing/wine-store/make_store_data.sh" "$3"
  while IFS=$'\t' read -r name kind; do
    [ "$kind" = key ] && entries+=("$name") || entries+=("$name:nokey")
  done < <("$1/bin/conformance_tool" store)
  wine "$2" --reset --data "$(windows_path "$3")" "${entries[@]}" >/dev/null ||
    { echo "filling the store (${entries[*]}) failed" >&2; return 1; }
}

# From here on, every Wine program of the caller runs under 32-bit Wine in
# the i386 root LINUX_BUILD/i386-root (scripts/i386-root.sh), made first if
# it is not complete, with the source tree, LINUX_BUILD and any FOLDER seen
# inside at the same place. Sets wine_command and token_road, installs the
# 32-bit socket bridge of WINDOWS_BUILD as the token modules, and makes
# wine_end end the root's namespace too.
wine_use_i386_root() {  # LINUX_BUILD WINDOWS_BUILD [FOLDER...]
  local tree linux=$1 folder
  tree=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
  WINE_WINDOWS_BUILD=$2
  shift 2
  source "$tree/scripts/i386-root.sh"
  wine_end() { wineserver -k 2>/dev/null || true; i386_root_leave; }
  i386_root_make "$linux/i386-root"
  local shared=("$tree")
  for folder in "$linux" "$@"; do
    case $folder/ in "$tree"/*) ;; *) shared+=("$folder") ;; esac
  done
  i386_root_enter "$linux/i386-root" "${shared[@]}"
  export WINEARCH=win32
  wineserver() { i386_run wineserver "$@"; }
  wine_command=("${I386_COMMAND[@]}" wine)
  # The 32-bit token modules in system32, each reaching SoftHSM2 through
  # its server of the Linux side.
  wine_install_token_modules() {
    install -m 644 "$WINE_WINDOWS_BUILD"/bin/socket-bridge/Tarvonav{4,5}.dll \
      "$WINEPREFIX/drive_c/windows/system32/"
  }
  token_road=("$linux/bin/wine-bridge/tarvona-bridge-server-v4" --
              "$linux/bin/wine-bridge/tarvona-bridge-server-v5" --)
}
