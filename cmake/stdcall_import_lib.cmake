# Rebuilds the 32-bit DLL's import library so that C and C++ hosts can link against it.
# The DLL exports undecorated names (library/kmtv1.def), but a 32-bit compiler refers
# to a __stdcall function as NAME@N (N the bytes of its arguments). The decorations are
# read from the compiled exports; dlltool --kill-at then maps each NAME@N symbol of the
# import library to the undecorated export NAME.
# With LLVM_DLLTOOL and MSVC_OUTPUT, the same mapping goes into an import library in the
# format of MSVC's lib.exe, for link.exe: it refers to _NAME@N just as MinGW does.
# Arguments: NM, DLLTOOL, OBJECT (the compiled exports), DEF, DLL_NAME, OUTPUT, WORK;
# optional: LLVM_DLLTOOL, MSVC_OUTPUT.
execute_process(COMMAND ${NM} --defined-only ${OBJECT} OUTPUT_VARIABLE symbols
                COMMAND_ERROR_IS_FATAL ANY)
file(STRINGS ${DEF} def_lines REGEX "^  [A-Za-z]")
list(TRANSFORM def_lines STRIP)
set(decorated_def "LIBRARY ${DLL_NAME}\nEXPORTS\n")
foreach(name IN LISTS def_lines)
  if(NOT symbols MATCHES " T _(${name}@[0-9]+)\n")
    message(FATAL_ERROR "${OBJECT} defines no __stdcall ${name}")
  endif()
  string(APPEND decorated_def "  ${CMAKE_MATCH_1}\n")
endforeach()
file(WRITE ${WORK}/decorated.def "${decorated_def}")
execute_process(COMMAND ${DLLTOOL} --kill-at --def ${WORK}/decorated.def --dllname ${DLL_NAME}
                        --output-lib ${OUTPUT}
                COMMAND_ERROR_IS_FATAL ANY)
if(LLVM_DLLTOOL AND MSVC_OUTPUT)
  execute_process(COMMAND ${LLVM_DLLTOOL} -m i386 -k -d ${WORK}/decorated.def -D ${DLL_NAME}
                          -l ${MSVC_OUTPUT}
                  COMMAND_ERROR_IS_FATAL ANY)
endif()
