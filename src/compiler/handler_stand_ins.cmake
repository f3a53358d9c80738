# Writes the compiler's stand-in for core/builtin_handlers.h: the compiler links the runtime's built-in
# table for its names (the lexer tells built-ins from user functions with it) but none of the handlers, so
# every handler named in the table is defined away to nullptr.
#   cmake -DTABLE=src/core/builtin_table.cpp -DOUT=<dir>/core/builtin_handlers.h -P handler_stand_ins.cmake
file(READ "${TABLE}" text)
string(REGEX MATCHALL "\\{u\"[A-Z0-9_]+\", *[0-9]+, *[0-9]+, *[A-Za-z_][A-Za-z0-9_]*\\}" rows "${text}")
set(names "")
foreach(row IN LISTS rows)
    string(REGEX REPLACE ".*, *([A-Za-z_][A-Za-z0-9_]*)\\}$" "\\1" name "${row}")
    if(NOT name STREQUAL "nullptr")
        list(APPEND names "${name}")
    endif()
endforeach()
list(REMOVE_DUPLICATES names)
set(out "// Generated from core/builtin_table.cpp for qx3compile: the table without its handlers.\n#pragma once\n\n#include \"core/builtins.h\"\n\n")
foreach(name IN LISTS names)
    string(APPEND out "#define ${name} nullptr\n")
endforeach()
file(WRITE "${OUT}" "${out}")
