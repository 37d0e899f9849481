# Wine settings for the scripts that run Windows programs (sourced).
export WINEDEBUG=-all
# No Mono or Gecko: a prefix never asks to download them.
export WINEDLLOVERRIDES="mscoree,mshtml="
# The 64-bit loader itself: once wine32 is installed, `wine` starts the
# 32-bit loader first, which fails where the kernel runs no 32-bit programs.
TARVONA_WINE=wine
if [ -x /usr/lib/wine/wine64 ]; then
  TARVONA_WINE=/usr/lib/wine/wine64
  export WINELOADER=$TARVONA_WINE
fi
