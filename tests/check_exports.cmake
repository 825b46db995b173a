# Compares the dynamic symbols that LIBRARY defines with the eighteen functions of the host
# interface.
execute_process(COMMAND nm -D --defined-only ${LIBRARY}
                OUTPUT_VARIABLE nm_output RESULT_VARIABLE nm_result)
if(NOT nm_result EQUAL 0)
    message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REGEX MATCHALL "[^\n]+" lines "${nm_output}")
set(defined "")
foreach(line IN LISTS lines)
    string(REGEX REPLACE "^[0-9a-fA-F]* *[A-Za-z] +" "" name "${line}")
    list(APPEND defined "${name}")
endforeach()
list(SORT defined)

# The host interface, written out here so that a name misspelt in the code and in the
# exports map alike does not pass.
set(expected
    FsInitW FsSetCryptCallbackW FsSetDefaultParams FsGetDefRootName FsStatusInfoW
    FsFindFirstW FsFindNextW FsFindClose FsDisconnectW
    FsMkDirW FsExecuteFileW FsRenMovFileW FsGetFileW FsPutFileW FsDeleteFileW FsRemoveDirW
    FsSetAttrW FsSetTimeW)
list(SORT expected)
if(NOT "${defined}" STREQUAL "${expected}")
    message(FATAL_ERROR "exported: ${defined}\nexpected: ${expected}")
endif()
message(STATUS "exports: ${defined}")
