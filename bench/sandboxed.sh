# shellcheck shell=bash
# Sourced by the benchmarks that run panel-setup or a browser. Outside the panel
# sandbox bench_in_sandbox runs the given command (the benchmark itself again)
# inside it and does not return; inside, it returns once the guard has made
# sure the sandbox is really there. The sandbox of the build comes from the
# build folder's panel-sandbox.env.
bench_in_sandbox() { # build-dir command...
    local environment=$1/panel-sandbox.env
    [ -r "$environment" ] || { echo "no $environment: configure and build the project first" >&2; exit 1; }
    # shellcheck source=/dev/null
    source "$environment"
    if [ "${PANEL_SANDBOX:-}" != 1 ]; then
        exec "$PANEL_SANDBOX_SCRIPT" --recorder "$PANEL_SANDBOX_RECORDER_BINARY" -- "${@:2}"
    fi
    "$PANEL_SANDBOX_GUARD" || exit 3
}
