# Without a toolchain file the top-level project builds both architectures
# as external projects and gathers their tests into one CTest run.
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
foreach(arch IN LISTS QM_ARCHES)
  set(gtest_args)
  set(gtest_dependency)
  if(QM_BUILD_TESTS)
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
    set(gtest_args -DGTest_DIR=${gtest_prefix}/lib/cmake/GTest)
    set(gtest_dependency DEPENDS googletest-${arch})
  endif()
  ExternalProject_Add(${arch}
    SOURCE_DIR ${CMAKE_SOURCE_DIR}
    BINARY_DIR ${CMAKE_BINARY_DIR}/${arch}
    CMAKE_ARGS
      -DCMAKE_TOOLCHAIN_FILE=${QM_TOOLCHAIN_${arch}}
      -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}
      -DQM_BUILD_TESTS=${QM_BUILD_TESTS}
      ${gtest_args}
    ${gtest_dependency}
    CONFIGURE_HANDLED_BY_BUILD TRUE
    BUILD_ALWAYS TRUE
    INSTALL_COMMAND ""
    USES_TERMINAL_BUILD TRUE)
  # Each architecture declares its tests in its own top-level directory,
  # with absolute paths, so its CTest file can be included from here.
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES
    ${CMAKE_BINARY_DIR}/${arch}/CTestTestfile.cmake)
endforeach()

include(${CMAKE_SOURCE_DIR}/cmake/Package.cmake OPTIONAL)
include(${CMAKE_SOURCE_DIR}/cmake/Installer.cmake OPTIONAL)
