# Sourced by the benches, which build nothing themselves.
#   require_built BUILD_DIR PROGRAM...    (paths under BUILD_DIR)
require_built() {
    local build=$1 program
    shift
    for program in "$@"; do
        [ -x "$build/$program" ] || { echo "$build/$program is missing: build it first" >&2; exit 1; }
    done
}
