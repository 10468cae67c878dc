# add_tavelo_test(<name> SOURCES <files...> [LIBS <targets...>] [FIXTURES <fixtures...>] [LABELS <labels...>])
# Builds one QtTest executable and registers it with CTest. GUI tests run on the offscreen platform;
# every test gets its own XDG directories so it never touches the real user's files or settings.
# A fixture <f> keeps its files in <build>/tests/<f>: its tests find them through TAVELO_<F>_DIR.
function(add_tavelo_test name)
    cmake_parse_arguments(T "" "" "SOURCES;LIBS;FIXTURES;LABELS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE Qt6::Test ${T_LIBS})
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests/support)
    target_compile_definitions(${name} PRIVATE
        TAVELO_TEST_DATA_DIR="${CMAKE_SOURCE_DIR}/tests/data"
        TAVELO_TEST_SUPPORT_DIR="${CMAKE_SOURCE_DIR}/tests/support"
        TAVELO_BINARY_DIR="${CMAKE_BINARY_DIR}")
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
    add_test(NAME ${name} COMMAND ${name})
    set(home ${CMAKE_BINARY_DIR}/tests/home/${name})
    file(MAKE_DIRECTORY ${home}/config ${home}/data)
    set_tests_properties(${name} PROPERTIES
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;XDG_CONFIG_HOME=${home}/config;XDG_DATA_HOME=${home}/data;HOME=${home}"
        TIMEOUT 600)
    if(T_FIXTURES)
        set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED "${T_FIXTURES}")
        foreach(fixture ${T_FIXTURES})
            string(TOUPPER ${fixture} upper)
            set_property(TEST ${name} APPEND PROPERTY ENVIRONMENT "TAVELO_${upper}_DIR=${CMAKE_BINARY_DIR}/tests/${fixture}")
        endforeach()
    endif()
    if(T_LABELS)
        set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}")
    endif()
endfunction()

# add_tavelo_scaled_run(<test> <functions...>): those test functions of an existing test again, with
# the screen at a scale of 2 (the logical sizes are the same, the fonts are hinted for twice the pixels).
function(add_tavelo_scaled_run name)
    add_test(NAME ${name}_scale2 COMMAND ${name} ${ARGN})
    set(home ${CMAKE_BINARY_DIR}/tests/home/${name}_scale2)
    file(MAKE_DIRECTORY ${home}/config ${home}/data)
    set_tests_properties(${name}_scale2 PROPERTIES
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QT_SCALE_FACTOR=2;XDG_CONFIG_HOME=${home}/config;XDG_DATA_HOME=${home}/data;HOME=${home}"
        TIMEOUT 300)
endfunction()
