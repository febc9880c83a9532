# Sourced by the benchmarks that run panel-setup or a browser. Outside the panel
# sandbox bench_in_sandbox runs the given command (the benchmark itself again)
# inside it and does not return; inside, it returns once the guard has made
# sure the sandbox is really there.
bench_in_sandbox() { # build-dir command...
    local bench_dir
    bench_dir=$(dirname "${BASH_SOURCE[0]}")
    if [ "${PANEL_SANDBOX:-}" != 1 ]; then
        exec "$bench_dir/../tests/sandbox/panel-sandbox" --recorder "$1/tests/sandbox/sandbox-recorder" -- "${@:2}"
    fi
    source "$bench_dir/../tests/sandboxguard.sh"
}
