# SPDX-License-Identifier: Apache-2.0
# Sourced by the scripts that test whole programs: one line per check, and a count at the end.
#   check WHAT EXPECTED ACTUAL   passes when the two are equal
#   checks_summary NAME          prints "NAME: N passed, N failed"; fails when any did
passes=0
failures=0

check() {
    local what="$1" expected="$2" actual="$3"
    if [ "$expected" = "$actual" ]; then
        echo "ok   $what"
        passes=$((passes + 1))
    else
        # A whole trace or log says no more than its start.
        echo "FAIL $what: expected [$expected], got [${actual:0:400}]" >&2
        failures=$((failures + 1))
    fi
}

checks_summary() {
    echo "$1: $passes passed, $failures failed"
    [ "$failures" -eq 0 ]
}
