# Shared compile settings and the helpers every folder uses to declare its targets.

add_library(torvane_flags INTERFACE)
target_compile_options(torvane_flags INTERFACE -Wall -Wextra -Wpedantic)
if(TORVANE_WERROR)
  target_compile_options(torvane_flags INTERFACE -Werror)
endif()
if(TORVANE_SANITIZE)
  target_compile_options(torvane_flags INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer
                                                   -fno-sanitize-recover=undefined)
  target_link_options(torvane_flags INTERFACE -fsanitize=address,undefined)
endif()

# torvane_library(NAME <target> [DEPS <targets...>])
# One static library per src/ folder, made of every .cpp file directly in that folder.
function(torvane_library)
  cmake_parse_arguments(ARG "" "NAME" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(sources)
    add_library(${ARG_NAME} STATIC ${sources})
    target_include_directories(${ARG_NAME} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${ARG_NAME} PUBLIC torvane_flags ${ARG_DEPS})
  else()
    add_library(${ARG_NAME} INTERFACE)
    target_include_directories(${ARG_NAME} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${ARG_NAME} INTERFACE torvane_flags ${ARG_DEPS})
  endif()
endfunction()

# torvane_executable(NAME <target> SOURCES <files...> [DEPS <targets...>])
function(torvane_executable)
  cmake_parse_arguments(ARG "" "NAME" "SOURCES;DEPS" ${ARGN})
  add_executable(${ARG_NAME} ${ARG_SOURCES})
  target_include_directories(${ARG_NAME} PRIVATE ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${ARG_NAME} PRIVATE torvane_flags ${ARG_DEPS})
endfunction()

# Adds every direct subfolder of the current folder that has a CMakeLists.txt.
function(torvane_add_subfolders)
  file(GLOB lists CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*/CMakeLists.txt)
  list(SORT lists)
  foreach(list_file IN LISTS lists)
    get_filename_component(dir ${list_file} DIRECTORY)
    add_subdirectory(${dir})
  endforeach()
endfunction()

# torvane_test(NAME <target> [DEPS <targets...>] [SOURCES <files...>])
# A GoogleTest executable of every .cpp in the current folder (or SOURCES), registered with CTest.
function(torvane_test)
  cmake_parse_arguments(ARG "" "NAME" "DEPS;SOURCES" ${ARGN})
  if(NOT ARG_SOURCES)
    file(GLOB ARG_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  endif()
  add_executable(${ARG_NAME} ${ARG_SOURCES})
  target_include_directories(${ARG_NAME} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${ARG_NAME} PRIVATE torvane_flags torvane_testsupport ${ARG_DEPS} GTest::gtest GTest::gmock
                                            GTest::gtest_main)
  target_compile_definitions(${ARG_NAME} PRIVATE TORVANE_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
                                                 TORVANE_BINARY_DIR="${PROJECT_BINARY_DIR}")
  gtest_discover_tests(${ARG_NAME} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 600)
endfunction()
