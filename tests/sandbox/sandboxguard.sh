#!/bin/sh
# Run first by every script that runs panel-setup, the browser command or
# anything else that changes the system: outside the panel sandbox they would
# change this host's network, clock or processes, so the caller stops before it
# runs anything:
#
#   "$tests/sandbox/sandboxguard.sh" || exit 3
#
# Succeeds only where $PANEL_SANDBOX is 1 and every program listed in standins
# (beside this script) is the recording stand-in $PANEL_SANDBOX_RECORDER.
standins=$(dirname "$0")/standins
if [ "${PANEL_SANDBOX:-}" = 1 ] && [ -n "${PANEL_SANDBOX_RECORDER:-}" ] && [ -r "$standins" ]; then
    covered=0
    while read -r program; do
        case "$program" in
            '' | '#'*) continue ;;
        esac
        # shellcheck disable=SC3013 # dash, Debian's sh, has -ef, as bash has
        if ! [ "$program" -ef "$PANEL_SANDBOX_RECORDER" ]; then
            covered=0
            break
        fi
        covered=$((covered + 1))
    done < "$standins"
    [ "$covered" -gt 0 ] && exit 0
fi
echo "refusing to run: this script runs system commands and belongs inside the panel sandbox" >&2
exit 3
