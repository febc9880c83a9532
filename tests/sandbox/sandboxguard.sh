# Sourced first by every black-box script that runs panel-setup or the browser
# command: outside the panel sandbox they would change this host's network,
# clock or processes, so the script stops before it runs anything.
panel_require_sandbox() {
    if [ "${PANEL_SANDBOX:-}" = 1 ] && [ -n "${PANEL_SANDBOX_RECORDER:-}" ] &&
        [ /bin/date -ef "$PANEL_SANDBOX_RECORDER" ] && [ /sbin/hwclock -ef "$PANEL_SANDBOX_RECORDER" ] &&
        [ /sbin/reboot -ef "$PANEL_SANDBOX_RECORDER" ]; then
        return 0
    fi
    echo "refusing to run: this script runs system commands and belongs inside the panel sandbox" >&2
    exit 3
}
panel_require_sandbox
