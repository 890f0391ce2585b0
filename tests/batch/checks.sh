# The end-to-end scripts' common part, sourced by them: a scratch folder
# removed at exit, and checks that are counted and named when they fail.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
passed=0

check() {  # check NAME CONDITION...
    local name=$1
    shift
    if "$@"; then
        passed=$((passed + 1))
    else
        echo "FAILED: $name" >&2
        failures=$((failures + 1))
    fi
}

finish() {  # the tally; the script's status
    echo "$passed passed, $failures failed"
    [ "$failures" -eq 0 ]
}
