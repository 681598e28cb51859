# GoogleTest, built from Debian's sources with the same cross compiler by
# the superbuild, which passes GTest_DIR (cmake/Superbuild.cmake).
find_package(GTest CONFIG REQUIRED)

enable_testing()

file(GLOB QM_TEST_SUPPORT CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/support/*.cpp)
add_library(qmtestsupport STATIC ${QM_TEST_SUPPORT})
# Tests, tools and benchmarks see the whole tree and every layer.
target_include_directories(qmtestsupport PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(qmtestsupport PUBLIC qm_module qm_page qm_capture qm_framework GTest::gtest)

# One test program per folder of tests/, one CTest entry per program: each
# entry costs a Wine process start, so per-case entries would be slow.
# Tests are declared here, in the top directory, so that the superbuild can
# include this directory's CTest file with absolute paths.
file(GLOB QM_TEST_AREAS CONFIGURE_DEPENDS LIST_DIRECTORIES true RELATIVE ${CMAKE_SOURCE_DIR}/tests
  ${CMAKE_SOURCE_DIR}/tests/*)
foreach(area IN LISTS QM_TEST_AREAS)
  if(area STREQUAL "support" OR NOT IS_DIRECTORY ${CMAKE_SOURCE_DIR}/tests/${area})
    continue()
  endif()
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/${area}/*.cpp)
  if(NOT sources)
    continue()
  endif()
  add_executable(${area}_tests ${sources} ${QM_RESOURCES})
  target_link_libraries(${area}_tests PRIVATE qmtestsupport)
  add_dependencies(${area}_tests QMCaptureDevice)
  add_test(NAME ${QM_ARCH}.${area} COMMAND ${area}_tests
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
  set_tests_properties(${QM_ARCH}.${area} PROPERTIES TIMEOUT 1200)
  # Both architectures share one Wine desktop. Programs that create or look
  # for captured windows (the window page's tests among them) must not see
  # each other's windows.
  if(NOT area MATCHES "^(module|framework)$")
    set_tests_properties(${QM_ARCH}.${area} PROPERTIES RESOURCE_LOCK wine_desktop)
  endif()
endforeach()
