#!/bin/sh
# Sets up and tears down the Wine prefix of one black-box run of the Windows
# build: `wine_prefix.sh create WINE` makes a fresh prefix at $WINEPREFIX,
# `wine_prefix.sh remove WINE` stops that prefix's Wine processes and deletes
# it (a prefix takes some 700 MB). WINE is the Wine loader; its wineserver
# lies beside it.
set -eu
action=$1
wine=$2
: "${WINEPREFIX:?WINEPREFIX must name the prefix}"
wineserver=$(dirname "$wine")/wineserver

case $action in
  create)
    rm -rf "$WINEPREFIX"
    "$wine" wineboot --init
    ;;
  remove)
    # Only the processes of this prefix are stopped, through its own server.
    "$wineserver" -k 2>/dev/null || true
    rm -rf "$WINEPREFIX"
    ;;
  *)
    echo "usage: $0 create|remove WINE" >&2
    exit 2
    ;;
esac
