# Each layer is one library whose sources are the .cpp files of its folders, so a new
# class pair needs no edit here. CONFIGURE_DEPENDS re-globs on every build.
function(corvale_library name)
  cmake_parse_arguments(ARG "" "" "DIRS;LIBS" ${ARGN})
  set(srcs)
  foreach(dir IN LISTS ARG_DIRS)
    file(GLOB dir_srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*.cpp)
    list(APPEND srcs ${dir_srcs})
  endforeach()
  if(NOT srcs)
    # A layer with no code yet still links: give it one empty unit.
    set(srcs ${CMAKE_CURRENT_BINARY_DIR}/${name}_empty.cpp)
    file(WRITE ${srcs} "")
    set_source_files_properties(${srcs} PROPERTIES SKIP_AUTOGEN ON)
  endif()
  add_library(${name} STATIC ${srcs})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${ARG_LIBS})
endfunction()

# One GoogleTest executable per test folder; every .cpp in it is a test source.
function(corvale_test_folder dir)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*.cpp)
  if(NOT srcs)
    return()
  endif()
  set(target corvale_test_${dir})
  add_executable(${target} ${srcs})
  target_include_directories(${target} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/src)
  target_link_libraries(${target} PRIVATE ${ARG_LIBS} corvale_testsupport GTest::gtest GTest::gmock)
  set(env "CORVALE_BUILD_DIR=${CMAKE_BINARY_DIR};CORVALE_SOURCE_DIR=${CMAKE_SOURCE_DIR};QT_QPA_PLATFORM=offscreen")
  if(CORVALE_SANITIZE)
    # Leaks inside system libraries we only call (the display's session bus) are not ours.
    list(APPEND env "LSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/test/lsan.supp:print_suppressions=0")
  endif()
  gtest_discover_tests(${target}
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
    PROPERTIES ENVIRONMENT "${env}"
    DISCOVERY_TIMEOUT 30)
endfunction()
