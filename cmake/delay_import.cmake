# Delay-loaded import libraries: a DLL named here is loaded on the first call into it instead of at process
# start. Most scripts never touch COM, sockets, downloads, sound, file dialogs or network drives, and under
# Wine every DLL loaded at start costs several milliseconds of start-up; a script that does use one pays for
# its DLL at the first call (the mingw runtime's __delayLoadHelper2 resolves it).
#
# tx_delay_import_libs(<out-var> dll...) writes, at configure time, a module-definition file listing every
# function of the toolchain's import library lib<dll>.a and turns it into lib<dll>_delay.a with dlltool;
# <out-var> receives the paths of those libraries, to be linked in place of the usual ones. Data exports
# cannot be delay-loaded: a program using one fails to link, which shows at once. Nor can a DLL with functions
# taking floating-point arguments: the x86_64 thunks dlltool makes keep the integer argument registers across
# the loading but not the XMM ones, so the first call of such a function would get its doubles clobbered.
function(tx_delay_import_libs out_var)
    set(triplet ${TARVEX_ARCH}-w64-mingw32)
    set(dir "${CMAKE_BINARY_DIR}/delay-import")
    file(MAKE_DIRECTORY "${dir}")
    set(libs)
    foreach(dll IN LISTS ARGN)
        set(implib "/usr/${triplet}/lib/lib${dll}.a")
        set(def "${dir}/${dll}.def")
        set(lib "${dir}/lib${dll}_delay.a")
        if(NOT EXISTS "${implib}")
            message(FATAL_ERROR "no import library ${implib}")
        endif()
        if(NOT EXISTS "${lib}" OR "${implib}" IS_NEWER_THAN "${lib}" OR "${CMAKE_CURRENT_FUNCTION_LIST_FILE}" IS_NEWER_THAN "${lib}")
            execute_process(COMMAND ${triplet}-nm -g "${implib}" OUTPUT_VARIABLE symbols RESULT_VARIABLE rc)
            if(NOT rc EQUAL 0)
                message(FATAL_ERROR "${triplet}-nm failed on ${implib}")
            endif()
            # "__imp_Name" (x86_64) or "__imp__Name@8" (i686: the C prefix "_" and the stdcall suffix).
            string(REGEX MATCHALL " I __imp_[^\n]+" entries "${symbols}")
            set(names)
            foreach(e IN LISTS entries)
                string(REGEX REPLACE "^ I __imp_" "" name "${e}")
                if(TARVEX_ARCH STREQUAL "i686")
                    string(REGEX REPLACE "^_" "" name "${name}")
                endif()
                list(APPEND names "${name}")
            endforeach()
            list(REMOVE_DUPLICATES names)
            list(JOIN names "\n" body)
            file(WRITE "${def}" "LIBRARY ${dll}.dll\nEXPORTS\n${body}\n")
            set(kill_at)
            if(TARVEX_ARCH STREQUAL "i686")
                set(kill_at -k)  # the DLL exports the undecorated names
            endif()
            execute_process(COMMAND ${triplet}-dlltool -d "${def}" -y "${lib}" -D ${dll}.dll ${kill_at}
                            RESULT_VARIABLE rc ERROR_VARIABLE err)
            if(NOT rc EQUAL 0)
                message(FATAL_ERROR "dlltool could not make ${lib}: ${err}")
            endif()
        endif()
        list(APPEND libs "${lib}")
    endforeach()
    set(${out_var} ${libs} PARENT_SCOPE)
endfunction()
