# One static library per layer of the stack (cmake/kvlayers.cmake), each linking only the layers
# of the rank below it, so that a layer and its tests build without anything above them.
#
# Companion libraries that the cycle library loads at run time live in
# src/platform/lib<name>/ with their own CMakeLists.txt and are not part of
# the platform layer.
include(${CMAKE_CURRENT_LIST_DIR}/kvlayers.cmake)

set(KV_LIBS "")
foreach(layer IN LISTS KV_LAYERS)
  set(dir ${PROJECT_SOURCE_DIR}/src/${KV_LAYER_DIR_${layer}})
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS ${dir}/*.cpp)
  list(FILTER srcs EXCLUDE REGEX "/src/platform/lib[^/]*/")
  add_library(kv_${layer} STATIC ${srcs})
  target_include_directories(kv_${layer} PUBLIC ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/include)
  target_link_libraries(kv_${layer} PUBLIC ${CMAKE_DL_LIBS})
  # The layers of the rank right below (and through them every lower one).
  math(EXPR below "${KV_LAYER_RANK_${layer}} - 1")
  foreach(other IN LISTS KV_LAYERS)
    if(KV_LAYER_RANK_${other} EQUAL below)
      target_link_libraries(kv_${layer} PUBLIC kv_${other})
    endif()
  endforeach()
  list(APPEND KV_LIBS kv_${layer})
endforeach()
set(KV_TOP_LAYER kv_${KV_TOP_LAYER_NAME})

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
  # A test binary linking lib, run by ctest in a folder of its own (the library writes fixed
  # file names into the working folder).
  function(kv_add_test_binary target test lib label)
    add_executable(${target} ${ARGN})
    target_link_libraries(${target} PRIVATE ${lib} GTest::gtest_main)
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
  # tests/<folder of a layer> mirrors the layer and links only it and what lies below. Whole runs
  # through the host's entries test the whole stack and link it, so they sit apart:
  #   whole/  whole cycles on fixed inputs (whole_<layer>, label "unit");
  #   zoo/    seeded families of generated inputs (zoo_<layer>, label "zoo"), so that the unit tests
  #           stay quick and a slow family can be sent to the release build.
  foreach(layer IN LISTS KV_LAYERS)
    set(tdir ${PROJECT_SOURCE_DIR}/tests/${KV_LAYER_DIR_${layer}})
    file(GLOB_RECURSE tsrcs CONFIGURE_DEPENDS ${tdir}/*.cpp)
    set(zsrcs ${tsrcs})
    set(wsrcs ${tsrcs})
    list(FILTER zsrcs INCLUDE REGEX "^${tdir}/zoo/")
    list(FILTER wsrcs INCLUDE REGEX "^${tdir}/whole/")
    list(FILTER tsrcs EXCLUDE REGEX "^${tdir}/(zoo|whole)/")
    if(tsrcs)
      kv_add_test_binary(test_${layer} ${layer} kv_${layer} unit ${tsrcs})
    endif()
    if(wsrcs)
      kv_add_test_binary(whole_${layer} whole_${layer} ${KV_TOP_LAYER} unit ${wsrcs})
    endif()
    if(zsrcs)
      kv_add_test_binary(zoo_${layer} zoo_${layer} ${KV_TOP_LAYER} zoo ${zsrcs})
    endif()
    if((tsrcs OR wsrcs OR zsrcs) AND EXISTS ${tdir}/CMakeLists.txt)
      include(${tdir}/CMakeLists.txt)
    endif()
  endforeach()

  # The stack itself: no include runs up or sideways, no folders in a circle; and the check
  # catches a planted fault.
  add_test(NAME layers COMMAND ${CMAKE_COMMAND} -DROOT=${PROJECT_SOURCE_DIR}
           -P ${PROJECT_SOURCE_DIR}/cmake/checklayers.cmake)
  add_test(NAME layers_planted COMMAND ${CMAKE_COMMAND} -DROOT=${PROJECT_SOURCE_DIR}/tests/layers/planted
           -P ${PROJECT_SOURCE_DIR}/cmake/checklayers.cmake)
  set_tests_properties(layers layers_planted PROPERTIES LABELS unit)
  set_tests_properties(layers_planted PROPERTIES
    PASS_REGULAR_EXPRESSION "include runs up the stack: plunge/run.h.*in a circle: surfaces/KVWISO, surfaces")
endif()

if(KV_BENCH AND EXISTS ${PROJECT_SOURCE_DIR}/bench/CMakeLists.txt)
  add_subdirectory(bench)
endif()
