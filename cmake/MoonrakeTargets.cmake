# Warnings are errors in our own code; Qt's generated files are compiled with the same flags.
function(moonrake_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Werror
                           -Wno-error=deprecated-declarations)
endfunction()

# moonrake_add_test(NAME name SOURCES a.cpp b.cpp [LIBS extra] [LABELS l])
# One GoogleTest executable per folder, sharing the main() that creates the Qt application.
function(moonrake_add_test)
    cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
    add_executable(${T_NAME} ${T_SOURCES})
    target_link_libraries(${T_NAME} PRIVATE moonrake_testmain libmoonrake GTest::gtest ${T_LIBS})
    moonrake_warnings(${T_NAME})
    if(T_LABELS)
        gtest_discover_tests(${T_NAME} PROPERTIES LABELS "${T_LABELS}" DISCOVERY_TIMEOUT 60)
    else()
        gtest_discover_tests(${T_NAME} DISCOVERY_TIMEOUT 60)
    endif()
endfunction()
