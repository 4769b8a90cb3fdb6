# Runs lupdate (with the options of the update_translations target) over the sources into a copy of the English .ts and fails when a text has no
# translation (a new or changed tr() text someone forgot to translate).
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
configure_file(${TS} ${WORK}/check.ts COPYONLY)
execute_process(
    COMMAND ${LUPDATE} ${OPTIONS} ${SOURCES} -ts ${WORK}/check.ts
    RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "lupdate failed: ${status}")
endif()
file(STRINGS ${WORK}/check.ts lines ENCODING UTF-8)
set(source "")
set(missing "")
foreach(line IN LISTS lines)
    if(line MATCHES "<source>(.*)</source>")
        set(source "${CMAKE_MATCH_1}")
    elseif(line MATCHES "type=\"unfinished\"")
        string(APPEND missing "  ${source}\n")
    endif()
endforeach()
if(missing)
    message(FATAL_ERROR "texts without an English translation (run the update_translations "
                        "target and translate them in ${TS}):\n${missing}")
endif()
message(STATUS "every text has its translation")
