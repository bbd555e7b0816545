# pealix_library(NAME folder-name DEPS ...)
# One static library per folder of src/, named pealix_<folder>, built from every
# .cpp/.h in that folder (subfolders are added by the folder's own CMakeLists).
function(pealix_library folder)
  cmake_parse_arguments(ARG "" "" "DEPS;SOURCES" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS
       ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  set(sources ${sources} ${ARG_SOURCES})
  set(compiled ${sources})
  list(FILTER compiled INCLUDE REGEX "\\.cpp$")
  if(NOT compiled)
    # A folder whose code has not been written yet still takes part in the graph.
    add_library(pealix_${folder} INTERFACE)
    target_include_directories(pealix_${folder} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(pealix_${folder} INTERFACE ${ARG_DEPS})
    return()
  endif()
  add_library(pealix_${folder} STATIC ${sources})
  target_include_directories(pealix_${folder} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(pealix_${folder} PUBLIC ${ARG_DEPS} PRIVATE pealix_warnings)
endfunction()

# pealix_test(NAME LABEL label SOURCES ... LIBS ... [GUI] [PROPERTIES ...])
# A GoogleTest executable whose cases CTest discovers one by one, all carrying LABEL.
function(pealix_test name)
  cmake_parse_arguments(ARG "GUI" "LABEL;TIMEOUT" "SOURCES;LIBS;PROPERTIES" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  if(ARG_GUI)
    set(main pealix_test_main_gui)
  else()
    set(main pealix_test_main)
  endif()
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} ${main} pealix_test_support GTest::gtest GTest::gmock pealix_warnings)
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 30
    PROPERTIES LABELS "${ARG_LABEL}" TIMEOUT ${ARG_TIMEOUT} ${ARG_PROPERTIES})
endfunction()

# Adds every direct subfolder that has a CMakeLists.txt, in name order, except EXCEPT.
function(pealix_add_subfolders)
  cmake_parse_arguments(ARG "" "" "EXCEPT" ${ARGN})
  file(GLOB children LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT children)
  foreach(child ${children})
    if(NOT child IN_LIST ARG_EXCEPT AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${child}/CMakeLists.txt)
      add_subdirectory(${child})
    endif()
  endforeach()
endfunction()
