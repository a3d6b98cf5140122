#!/usr/bin/env bash
# Runs the layer check over small trees built in a temporary directory: a tree that keeps to its
# layers passes, and each way of reaching upwards (by path from the top, relative to the file,
# a toolkit header outside ui/, a library of a higher layer in CMakeLists.txt) fails with the
# offending file named.
# Usage: check_layers_test.sh CMAKE CHECK_SCRIPT
set -euo pipefail
cmake=$1
script=$2
work=$(mktemp -d /tmp/pemo-layers-XXXXXX)
trap 'rm -rf "$work"' EXIT

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# A clean tree: each layer includes its own headers and those below, and ui/ includes wx.
fresh() {
    rm -rf "$work/tree"
    mkdir -p "$work/tree"/{util,platform/linux,model,sync,run,app,ui}
    cd "$work/tree"
    echo '#pragma once' >util/texts.h
    printf '#include "util/texts.h"\n#include <string>\n' >platform/linux/probe.h
    printf '#include "../util/texts.h"\n#include "platform/linux/probe.h"\n' >model/job.h
    printf '#include "job.h"\n' >model/job.cpp
    printf '#include "model/job.h"\n' >sync/copy.h
    printf '#include "sync/copy.h"\n' >run/runner.h
    printf '#include "run/runner.h"\n' >app/frame.h
    printf '#include <wx/frame.h>\n#include "app/frame.h"\n' >ui/dlg.cpp
    printf 'add_library(pemo_sync STATIC copy.cpp)\ntarget_link_libraries(pemo_sync PUBLIC pemo_model)\n' \
        >sync/CMakeLists.txt
    cd - >/dev/null
}
check() {
    "$cmake" -DROOT="$work/tree" -P "$script" >"$work/out.txt" 2>&1
}
expect_pass() {
    check || fail "$1: the check refused a tree that keeps to its layers: $(cat "$work/out.txt")"
}
expect_refusal() { # what, offending file
    if check; then
        fail "$1: the check passed"
    elif ! grep -qF "$2" "$work/out.txt"; then
        fail "$1: the refusal does not name $2: $(cat "$work/out.txt")"
    fi
}

fresh
expect_pass "clean tree"

fresh
echo '#include "run/runner.h"' >>"$work/tree/sync/copy.h"
expect_refusal "include of a higher layer from the top" "sync/copy.h"

fresh
echo '#include "../../app/frame.h"' >>"$work/tree/platform/linux/probe.h"
expect_refusal "relative include of a higher layer" "platform/linux/probe.h"

fresh
echo '#include "ui/dlg.h"' >>"$work/tree/app/frame.h"
expect_refusal "include of a ui header not yet written" "app/frame.h"

fresh
echo '#include <wx/string.h>' >>"$work/tree/util/texts.h"
expect_refusal "toolkit outside ui/" "util/texts.h"

fresh
echo '#  include <gtk/gtk.h>' >>"$work/tree/run/runner.h"
expect_refusal "GTK outside ui/" "run/runner.h"

fresh
printf 'target_link_libraries(pemo_sync PUBLIC pemo_run)\n' >>"$work/tree/sync/CMakeLists.txt"
expect_refusal "a library linking a higher layer" "sync/CMakeLists.txt"

[ "$failures" -eq 0 ] || exit 1
echo "layer check test passed"
