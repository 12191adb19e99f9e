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
  # GCC 12's flow analysis under the sanitizers reports libstdc++'s own std::regex and
  # std::function as maybe-uninitialized; the plain build keeps the warning.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(torvane_flags INTERFACE -Wno-maybe-uninitialized)
  endif()
endif()

# The layers of src/, lowest first (README.md, "Layers"): a library may depend only on layers
# before its own. The two front ends, gtk and cli, share the last rank: neither uses the other.
set(TORVANE_LAYERS platform trust text archive patch net ui options app gtk cli)
set(TORVANE_FRONT_ENDS gtk cli)

# torvane_library(NAME <target> [DEPS <targets...>])
# One static library per src/ folder, made of every .cpp file directly in that folder.
#
# The library's include root holds its own folder only (build/include-roots/<folder>/<folder>
# links to src/<folder>), so "<folder>/X.h" of another layer is found only through a
# dependency, and a dependency on a layer above this one stops the configuration.
function(torvane_library)
  cmake_parse_arguments(ARG "" "NAME" "DEPS" ${ARGN})
  get_filename_component(folder ${CMAKE_CURRENT_SOURCE_DIR} NAME)
  list(FIND TORVANE_LAYERS ${folder} rank)
  if(rank EQUAL -1)
    message(FATAL_ERROR "src/${folder} is in no layer: add it to TORVANE_LAYERS and README.md")
  endif()
  foreach(dep IN LISTS ARG_DEPS)
    # The layers are added lowest first, so a library not yet defined is not below this one.
    if(dep MATCHES "^torvane_" AND NOT dep STREQUAL "torvane_flags" AND NOT TARGET ${dep})
      message(FATAL_ERROR "src/${folder} may not use ${dep}: it is not a layer below")
    endif()
    if(dep MATCHES "^torvane_" AND TARGET ${dep})
      get_target_property(dep_dir ${dep} SOURCE_DIR)
      get_filename_component(dep_folder ${dep_dir} NAME)
      list(FIND TORVANE_LAYERS ${dep_folder} dep_rank)
      list(FIND TORVANE_FRONT_ENDS ${dep_folder} dep_front_end)
      if(dep_rank GREATER_EQUAL rank OR dep_front_end GREATER -1)
        message(FATAL_ERROR "src/${folder} may not use src/${dep_folder}: it is not a layer below")
      endif()
    endif()
  endforeach()
  set(root ${PROJECT_BINARY_DIR}/include-roots/${folder})
  file(MAKE_DIRECTORY ${root})
  file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR} ${root}/${folder} SYMBOLIC)

  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(sources)
    add_library(${ARG_NAME} STATIC ${sources})
    target_include_directories(${ARG_NAME} PUBLIC ${root})
    target_link_libraries(${ARG_NAME} PUBLIC torvane_flags ${ARG_DEPS})
  else()
    add_library(${ARG_NAME} INTERFACE)
    target_include_directories(${ARG_NAME} INTERFACE ${root})
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

# torvane_test(NAME <target> [DEPS <targets...>] [SOURCES <files...>] [TIMEOUT <seconds>])
# A GoogleTest executable of every .cpp in the current folder (or SOURCES), registered with CTest;
# each test may take TIMEOUT seconds (default 600).
function(torvane_test)
  cmake_parse_arguments(ARG "" "NAME;TIMEOUT" "DEPS;SOURCES" ${ARGN})
  if(NOT ARG_SOURCES)
    file(GLOB ARG_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  endif()
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 600)
  endif()
  add_executable(${ARG_NAME} ${ARG_SOURCES})
  target_include_directories(${ARG_NAME} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${ARG_NAME} PRIVATE torvane_flags torvane_testsupport ${ARG_DEPS} GTest::gtest GTest::gmock
                                            GTest::gtest_main)
  target_compile_definitions(${ARG_NAME} PRIVATE TORVANE_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
                                                 TORVANE_BINARY_DIR="${PROJECT_BINARY_DIR}")
  gtest_discover_tests(${ARG_NAME} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT ${ARG_TIMEOUT})
endfunction()
