#!/usr/bin/env bash
# wine-test.sh PROGRAM.exe ARGS...: runs one Windows test program under wine for CTest. QtTest's
# output does not come through a pipe from wine, so it goes to a file that is shown afterwards.
# Wine's own output goes to a file as well: the wine server and wine's service processes outlive
# the program, and a pipe they inherited would keep CTest waiting. Wine keeps QT_* variables to
# itself; spelt WINEQT_* they reach the Windows process as QT_*.
set -u
for name in $(compgen -e); do
    case $name in
    QT_*) export "WINE$name=${!name}" ;;
    esac
done
log=$(mktemp)
wine "$@" -o "$log,txt" >"$log.wine" 2>&1 </dev/null
status=$?
cat "$log.wine" "$log"
rm -f "$log" "$log.wine"
exit $status
