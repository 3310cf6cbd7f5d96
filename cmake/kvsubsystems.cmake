# One static library per source subsystem (src/<name>, recursively), so that
# a subsystem and its tests build without the others. Static libraries may
# depend on each other in cycles; the linker resolves them.
#
# Companion libraries that the cycle library loads at run time live in
# src/platform/lib<name>/ with their own CMakeLists.txt and are not part of
# the platform subsystem.

set(KV_SUBSYSTEMS platform kernel geometry KVWOG5 contour surfaces collision plunge avoidance pocket)

# Direct dependencies of each subsystem (edit when a subsystem starts to use another).
set(KV_DEPS_platform "")
set(KV_DEPS_kernel platform geometry surfaces plunge pocket)
set(KV_DEPS_geometry platform kernel surfaces contour)
set(KV_DEPS_KVWOG5 platform geometry)
set(KV_DEPS_contour geometry KVWOG5)
set(KV_DEPS_surfaces platform kernel geometry KVWOG5)
set(KV_DEPS_collision platform kernel geometry KVWOG5 contour surfaces)
set(KV_DEPS_plunge platform kernel geometry KVWOG5 contour surfaces collision avoidance)
set(KV_DEPS_avoidance platform kernel geometry KVWOG5 contour surfaces collision plunge)
set(KV_DEPS_pocket platform kernel geometry KVWOG5 contour surfaces plunge)

set(KV_LIBS "")
foreach(sub IN LISTS KV_SUBSYSTEMS)
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/${sub}/*.cpp)
  list(FILTER srcs EXCLUDE REGEX "/src/platform/lib[^/]*/")
  if(NOT srcs)
    # An empty subsystem still gets a target so that dependencies resolve.
    add_library(kv_${sub} INTERFACE)
  else()
    add_library(kv_${sub} STATIC ${srcs})
    target_include_directories(kv_${sub} PUBLIC ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/include)
    target_link_libraries(kv_${sub} PUBLIC ${CMAKE_DL_LIBS})
    list(APPEND KV_LIBS kv_${sub})
  endif()
endforeach()
foreach(sub IN LISTS KV_SUBSYSTEMS)
  get_target_property(type kv_${sub} TYPE)
  set(deps "")
  foreach(d IN LISTS KV_DEPS_${sub})
    list(APPEND deps kv_${d})
  endforeach()
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_link_libraries(kv_${sub} INTERFACE ${deps})
  else()
    target_link_libraries(kv_${sub} PUBLIC ${deps})
    # The subsystems' static libraries depend on each other in cycles; one more pass resolves
    # objects that a late library pulls in.
    set_property(TARGET kv_${sub} PROPERTY LINK_INTERFACE_MULTIPLICITY 3)
  endif()
endforeach()

# Companion libraries loaded at run time.
file(GLOB kv_companions LIST_DIRECTORIES true ${PROJECT_SOURCE_DIR}/src/platform/lib*)
foreach(dir IN LISTS kv_companions)
  if(EXISTS ${dir}/CMakeLists.txt)
    add_subdirectory(${dir})
  endif()
endforeach()

# The cycle library: all subsystems, exporting only the host interface.
if(KV_LIBS)
  add_library(kvcycles SHARED ${PROJECT_SOURCE_DIR}/cmake/empty.cpp)
  # Built from the archives' objects rather than the archives themselves: the
  # archives reach each other through plain dependencies, and whole-archive
  # linking of a library met twice would define every symbol twice.
  foreach(lib IN LISTS KV_LIBS)
    target_sources(kvcycles PRIVATE $<TARGET_OBJECTS:${lib}>)
  endforeach()
  target_link_libraries(kvcycles PRIVATE ${CMAKE_DL_LIBS})
  target_link_options(kvcycles PRIVATE -Wl,--version-script=${PROJECT_SOURCE_DIR}/cmake/kvcycles.map)
  set_target_properties(kvcycles PROPERTIES LINK_DEPENDS ${PROJECT_SOURCE_DIR}/cmake/kvcycles.map)
endif()

if(EXISTS ${PROJECT_SOURCE_DIR}/tools/CMakeLists.txt)
  add_subdirectory(tools)
endif()

if(KV_TESTS)
  enable_testing()
  find_package(GTest REQUIRED)
  # Optional test-only oracles; the library never links them.
  find_package(PkgConfig QUIET)
  if(PkgConfig_FOUND)
    pkg_check_modules(GEOS QUIET IMPORTED_TARGET geos)
    # FCL's own flags pin an old language standard; only its paths and libraries are taken.
    pkg_check_modules(FCL QUIET fcl)
  endif()
  add_library(kv_allocpass OBJECT ${PROJECT_SOURCE_DIR}/tests/allocpass.cpp)
  # A test binary of subsystem sub, run by ctest in a folder of its own (the library writes fixed
  # file names into the working folder).
  function(kv_add_test_binary target test sub label)
    add_executable(${target} ${ARGN})
    target_link_libraries(${target} PRIVATE kv_${sub} GTest::gtest_main)
    target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
    target_compile_definitions(${target} PRIVATE
      KV_SOURCE_DIR="${PROJECT_SOURCE_DIR}" KV_BIN_DIR="${KV_BIN_DIR}")
    if(GEOS_FOUND)
      target_link_libraries(${target} PRIVATE PkgConfig::GEOS)
      target_compile_definitions(${target} PRIVATE KV_HAVE_GEOS=1)
    endif()
    if(FCL_FOUND)
      target_include_directories(${target} SYSTEM PRIVATE ${FCL_INCLUDE_DIRS})
      target_link_libraries(${target} PRIVATE ${FCL_LINK_LIBRARIES})
      target_compile_definitions(${target} PRIVATE KV_HAVE_FCL=1)
    endif()
    # The allocation-failure hook of tests/allocfail.h fails the C allocations of the linked code too.
    target_link_libraries(${target} PRIVATE kv_allocpass)
    target_link_options(${target} PRIVATE -Wl,--wrap=malloc -Wl,--wrap=calloc -Wl,--wrap=realloc)
    set(wd ${CMAKE_BINARY_DIR}/testwork/${test})
    file(MAKE_DIRECTORY ${wd})
    add_test(NAME ${test} COMMAND ${target} WORKING_DIRECTORY ${wd})
    set_tests_properties(${test} PROPERTIES TIMEOUT 1500 LABELS ${label})
  endfunction()
  # Whole runs on a generated impeller: the mesh conversion and core libraries beside the binary,
  # the example generator linked in.
  function(kv_whole_run_deps target)
    if(NOT TARGET ${target})
      return()
    endif()
    foreach(lib kvx3dfdll kvx3dfmt kvcore)
      if(TARGET ${lib})
        add_dependencies(${target} ${lib})
      endif()
    endforeach()
    if(TARGET mkimpeller_gen)
      target_link_libraries(${target} PRIVATE mkimpeller_gen)
    endif()
  endfunction()
  foreach(sub IN LISTS KV_SUBSYSTEMS)
    file(GLOB_RECURSE tsrcs CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/${sub}/*.cpp)
    # tests/<sub>/zoo/ holds whole-cycle runs over seeded families of generated
    # inputs: a binary of their own (zoo_<sub>, label "zoo"), so that the unit
    # tests stay quick and a slow family can be sent to the release build.
    set(zsrcs ${tsrcs})
    list(FILTER zsrcs INCLUDE REGEX "/tests/${sub}/zoo/")
    list(FILTER tsrcs EXCLUDE REGEX "/tests/${sub}/zoo/")
    if(zsrcs)
      kv_add_test_binary(zoo_${sub} zoo_${sub} ${sub} zoo ${zsrcs})
    endif()
    if(tsrcs)
      kv_add_test_binary(test_${sub} ${sub} ${sub} unit ${tsrcs})
      if(EXISTS ${PROJECT_SOURCE_DIR}/tests/${sub}/CMakeLists.txt)
        include(${PROJECT_SOURCE_DIR}/tests/${sub}/CMakeLists.txt)
      endif()
    endif()
  endforeach()
endif()

if(KV_BENCH AND EXISTS ${PROJECT_SOURCE_DIR}/bench/CMakeLists.txt)
  add_subdirectory(bench)
endif()
