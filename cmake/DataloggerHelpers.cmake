# datalogger_add_test(<name>
#     SOURCES <files...>
#     LIBS <targets...>
#     [LABELS <labels...>]          e.g. slow
#     [ENV <VAR=value...>]          e.g. TZ=Europe/Berlin
#     [TIMEOUT <seconds>]
#     [LOCK <resource>])            never run beside another test holding the same lock
#
# One executable per suite; runs headless on the offscreen platform.
function(datalogger_add_test name)
    cmake_parse_arguments(T "" "TIMEOUT;LOCK" "SOURCES;LIBS;LABELS;ENV" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE ${T_LIBS} Qt5::Test)
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
    add_test(NAME ${name} COMMAND ${name})
    # QT_XCB_GL_INTEGRATION=none: nothing here draws with OpenGL; without it the X11 suites load
    # Mesa's DRI driver, which keeps an allocation the leak checker cannot name once the
    # driver is unloaded at exit.
    set(env "QT_QPA_PLATFORM=offscreen" "DATALOGGER_BIN_DIR=${CMAKE_BINARY_DIR}/bin"
            "QT_XCB_GL_INTEGRATION=none"
            "DATALOGGER_SOURCE_DIR=${CMAKE_SOURCE_DIR}"
            "LSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/tests/sanitizers/lsan.supp:fast_unwind_on_malloc=0"
            "TSAN_OPTIONS=ignore_noninstrumented_modules=1:suppressions=${CMAKE_SOURCE_DIR}/tests/sanitizers/tsan.supp"
            ${T_ENV})
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 300)
    endif()
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "${env}" TIMEOUT ${T_TIMEOUT})
    if(T_LABELS)
        set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}")
    endif()
    if(T_LOCK)
        set_tests_properties(${name} PROPERTIES RESOURCE_LOCK "${T_LOCK}")
    endif()
endfunction()

# Keeps widget code out of the libraries that must run without a screen.
function(datalogger_forbid_widgets target)
    get_target_property(libs ${target} LINK_LIBRARIES)
    if(libs)
        foreach(l ${libs})
            if(l MATCHES "Widgets")
                message(FATAL_ERROR "${target} must not link ${l}")
            endif()
        endforeach()
    endif()
endfunction()
