#!/usr/bin/env bash
# wine-test.sh PROGRAM.exe ARGS...: runs one Windows test program under wine for CTest. QtTest's
# output does not come through a pipe from wine, so it goes to a file that is shown afterwards.
# Wine's own output goes to a file as well: the wine server and wine's service processes outlive
# the program, and a pipe they inherited would keep CTest waiting. Wine keeps QT_* variables to
# itself; spelt WINEQT_* they reach the Windows process as QT_*.
#
# Wine now and then fails to start a program in a new prefix (seen in a fresh root: a failure in
# 0.02 s with no output at all). A program that printed no test output is therefore run once more,
# and the log says so; one that printed any, passing or failing, is run once.
set -u
for name in $(compgen -e); do
    case $name in
    QT_*) export "WINE$name=${!name}" ;;
    esac
done
log=$(mktemp)
run() {
    : >"$log"
    wine "$@" -o "$log,txt" >"$log.wine" 2>&1 </dev/null
}
run "$@"
status=$?
if [ ! -s "$log" ]; then
    echo "wine-test.sh: $(basename "$1") printed no test output (status $status), so wine did not start it;" \
        "running it once more. Wine said:"
    cat "$log.wine"
    run "$@"
    status=$?
fi
cat "$log.wine" "$log"
rm -f "$log" "$log.wine"
exit $status
