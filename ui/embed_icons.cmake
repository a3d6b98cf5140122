# Writes a C++ source that holds every SVG icon of data/icons as a string, keyed by its number.
# Called with -DICON_DIR=... -DOUT=...
set(icons
    130=pemo-idle.svg 132=pemo.svg 134=pemo-working-1.svg 135=pemo-working-2.svg
    136=pemo-copying-1.svg 137=pemo-copying-2.svg 143=pemo-paused.svg)
set(body "// Generated from data/icons by ui/embed_icons.cmake; do not edit.\n#include \"ui/icons.h\"\n\nconst char* PemoIconSvg(int id) {\n    switch (id) {\n")
foreach(entry ${icons})
    string(REGEX REPLACE "=.*" "" id "${entry}")
    string(REGEX REPLACE ".*=" "" file "${entry}")
    file(READ ${ICON_DIR}/${file} svg)
    string(APPEND body "    case ${id}:\n        return R\"pemosvg(${svg})pemosvg\";\n")
endforeach()
string(APPEND body "    default:\n        return nullptr;\n    }\n}\n")
file(WRITE ${OUT}.tmp "${body}")
file(COPY_FILE ${OUT}.tmp ${OUT} ONLY_IF_DIFFERENT)
