# SPDX-License-Identifier: MIT
# Helpers shared by every layer's CMakeLists.

# quorlin_add_layer_subdirectories()
# Adds every directory below the current one that holds a CMakeLists.txt
# (tests/serial, tests/serial/ui, bench/engine, ...), so such a directory never
# adds its own subdirectories. The first path component names the layer, which
# QUORLIN_ONLY can leave out.
function(quorlin_add_layer_subdirectories)
    file(GLOB_RECURSE lists CONFIGURE_DEPENDS
        RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*/CMakeLists.txt)
    list(SORT lists)
    foreach(list_file ${lists})
        get_filename_component(dir ${list_file} DIRECTORY)
        string(REGEX REPLACE "/.*" "" layer ${dir})
        if(layer IN_LIST QUORLIN_ONLY)
            add_subdirectory(${dir})
        endif()
    endforeach()
endfunction()

# quorlin_add_test(<name> SOURCES <files...> LIBS <libs...> [GUI] [ENV <k=v>...]
#                  [LABELS <label...>])
# One GoogleTest executable per layer, registered with CTest. GUI tests get a
# QApplication main; every test runs headless. The label "tsan" marks a test
# whose threads meet (the line's thread, the tick, a master thread): make tsan
# builds and runs exactly those, through the target tsan_tests.
function(quorlin_add_test name)
    cmake_parse_arguments(T "GUI" "TIMEOUT" "SOURCES;LIBS;ENV;LABELS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    if(T_GUI)
        target_sources(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/testmain_gui.cpp)
        target_link_libraries(${name} PRIVATE Qt6::Widgets Qt6::Test)
    else()
        target_sources(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/testmain_core.cpp)
        target_link_libraries(${name} PRIVATE Qt6::Core)
    endif()
    target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock)
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 300)
    endif()
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT}
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QUORLIN_SOURCE_DIR=${PROJECT_SOURCE_DIR};QUORLIN_BUILD_DIR=${CMAKE_BINARY_DIR};${T_ENV}")
    if(T_LABELS)
        set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}")
    endif()
    if("tsan" IN_LIST T_LABELS)
        if(NOT TARGET tsan_tests)
            add_custom_target(tsan_tests)
        endif()
        add_dependencies(tsan_tests ${name})
    endif()
endfunction()

# quorlin_add_fuzzer(<name> SOURCES <files...> LIBS <libs...>)
# <files> define LLVMFuzzerTestOneInput. With QUORLIN_FUZZ it becomes a
# libFuzzer binary in <build>/fuzz/; in the normal build it becomes a CTest
# test that replays the saved corpus fuzz/corpus/<name>/ so that every input
# the fuzzer ever kept is checked on every run.
function(quorlin_add_fuzzer name)
    cmake_parse_arguments(F "" "" "SOURCES;LIBS" ${ARGN})
    if(QUORLIN_FUZZ)
        add_executable(${name} ${F_SOURCES})
        target_link_libraries(${name} PRIVATE ${F_LIBS})
        target_link_options(${name} PRIVATE -fsanitize=fuzzer)
        set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
        if(NOT TARGET fuzz_all)
            add_custom_target(fuzz_all)
        endif()
        add_dependencies(fuzz_all ${name})
    else()
        add_executable(${name}_replay ${F_SOURCES} ${PROJECT_SOURCE_DIR}/tests/fuzzreplay_main.cpp)
        target_link_libraries(${name}_replay PRIVATE ${F_LIBS})
        add_test(NAME ${name}_replay
            COMMAND ${name}_replay ${PROJECT_SOURCE_DIR}/fuzz/corpus/${name})
        set_tests_properties(${name}_replay PROPERTIES TIMEOUT 300
            ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
    endif()
endfunction()

# quorlin_add_layer(<name> SOURCES <files...> LIBS <public libs...>)
# A layer's static library; while a layer has no source yet it is an empty
# interface library, so the layers above it still configure.
function(quorlin_add_layer name)
    cmake_parse_arguments(L "" "" "SOURCES;LIBS" ${ARGN})
    set(cpp ${L_SOURCES})
    list(FILTER cpp INCLUDE REGEX "\\.(c|cpp)$")
    if(cpp)
        add_library(${name} STATIC ${L_SOURCES})
        target_link_libraries(${name} PUBLIC ${L_LIBS})
    else()
        add_library(${name} INTERFACE)
        target_link_libraries(${name} INTERFACE ${L_LIBS})
    endif()
endfunction()
