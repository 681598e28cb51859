# Without a toolchain file the top-level project builds both architectures
# as external projects, each in two configurations: the shipped one
# (build/<arch>: the module and its programs, without checks) and the
# checked one (build/checked/<arch>: everything, the tests and benchmarks
# among it, with the checks compiled in). It gathers the checked trees'
# tests into one CTest run.
include(ExternalProject)

if(NOT CMAKE_BUILD_TYPE)
  set(CMAKE_BUILD_TYPE Release)
endif()

set(QM_ARCHES x86 x64)
set(QM_TOOLCHAIN_x86 ${CMAKE_SOURCE_DIR}/cmake/toolchain-i686.cmake)
set(QM_TOOLCHAIN_x64 ${CMAKE_SOURCE_DIR}/cmake/toolchain-x86_64.cmake)

# GoogleTest for the tests, built per architecture from the sources of
# Debian's package googletest with that architecture's cross compiler and
# installed into the build folder, where each architecture's project finds
# it with find_package.
set(QM_GOOGLETEST_SOURCE_DIR /usr/src/googletest CACHE PATH
  "GoogleTest's sources (Debian's package googletest installs them here)")

enable_testing()
# The set-up's choice of package versions for a mirror whose amd64 and
# i386 halves are out of step: plain text in, pairs out, no mirror needed.
add_test(NAME setup COMMAND bash ${CMAKE_SOURCE_DIR}/tests/setup/apt_version_pairs_test.sh)
foreach(arch IN LISTS QM_ARCHES)
  # What users get: the module and the programs around it, optimised,
  # without checks. The demo, the zip and the setup program take theirs.
  ExternalProject_Add(${arch}
    SOURCE_DIR ${CMAKE_SOURCE_DIR}
    BINARY_DIR ${CMAKE_BINARY_DIR}/${arch}
    CMAKE_ARGS
      -DCMAKE_TOOLCHAIN_FILE=${QM_TOOLCHAIN_${arch}}
      -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}
      -DQM_BUILD_TESTS=OFF
      -DQM_CHECKED=OFF
    CONFIGURE_HANDLED_BY_BUILD TRUE
    BUILD_ALWAYS TRUE
    INSTALL_COMMAND ""
    USES_TERMINAL_BUILD TRUE)

  if(NOT QM_BUILD_TESTS)
    continue()
  endif()
  # The checked configuration: the same code, optimised as well, with the
  # checks of framework/thread_checks.h compiled in (thread and lock
  # claims, QM_DCHECK). Every test program, the tools the tests run and
  # the benchmarks are built here, and the tests register the module
  # beside them, so that the device's own checks run under every test.
  set(gtest_prefix ${CMAKE_BINARY_DIR}/googletest/${arch})
  ExternalProject_Add(googletest-${arch}
    SOURCE_DIR ${QM_GOOGLETEST_SOURCE_DIR}
    BINARY_DIR ${CMAKE_BINARY_DIR}/googletest/${arch}-build
    INSTALL_DIR ${gtest_prefix}
    CMAKE_ARGS
      -DCMAKE_TOOLCHAIN_FILE=${QM_TOOLCHAIN_${arch}}
      -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}
      -DCMAKE_INSTALL_PREFIX=<INSTALL_DIR>
      -DBUILD_GMOCK=OFF
      -DINSTALL_GTEST=ON
    USES_TERMINAL_BUILD TRUE)
  ExternalProject_Add(${arch}-checked
    SOURCE_DIR ${CMAKE_SOURCE_DIR}
    BINARY_DIR ${CMAKE_BINARY_DIR}/checked/${arch}
    CMAKE_ARGS
      -DCMAKE_TOOLCHAIN_FILE=${QM_TOOLCHAIN_${arch}}
      -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}
      -DQM_BUILD_TESTS=ON
      -DQM_CHECKED=ON
      -DGTest_DIR=${gtest_prefix}/lib/cmake/GTest
    DEPENDS googletest-${arch}
    CONFIGURE_HANDLED_BY_BUILD TRUE
    BUILD_ALWAYS TRUE
    INSTALL_COMMAND ""
    USES_TERMINAL_BUILD TRUE)
  # Each checked tree declares its tests in its own top-level directory,
  # with absolute paths, so its CTest file can be included from here.
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES
    ${CMAKE_BINARY_DIR}/checked/${arch}/CTestTestfile.cmake)
endforeach()

include(${CMAKE_SOURCE_DIR}/cmake/Package.cmake OPTIONAL)
include(${CMAKE_SOURCE_DIR}/cmake/Installer.cmake OPTIONAL)
