# GoogleTest, built from Debian's sources with the same cross compiler by
# the superbuild, which passes GTest_DIR (cmake/Superbuild.cmake).
find_package(GTest CONFIG REQUIRED)

enable_testing()

# The tests' own code is compiled for the speed of the build: the layers
# it tests keep the optimisation of the code users get, while test files,
# test support and benchmark drivers are compiled at -O1 (the tests' time
# goes to Wine and to real waits, not to their own code), and the system
# and GoogleTest headers every test file includes (some 200,000 lines) are
# precompiled once for all of them (qm_share_precompiled_headers) instead
# of parsed for every file.
set(QM_TEST_HEADERS
  <windows.h> <dshow.h> <wrl/client.h> <gtest/gtest.h>
  <algorithm> <atomic> <cstdint> <cstdio> <cstdlib> <cstring> <functional> <memory> <string> <thread> <vector>)
function(qm_test_code target)
  target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:-O1>)
  set_property(GLOBAL APPEND PROPERTY QM_PRECOMPILED_USERS_test ${target})
endfunction()

file(GLOB QM_TEST_SUPPORT CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/support/*.cpp)
# The private desktop acts from a static initializer that nothing calls:
# from a static library it would never be linked. The programs that need
# it compile it themselves (below).
set(QM_PRIVATE_DESKTOP ${CMAKE_SOURCE_DIR}/tests/support/private_desktop.cpp)
list(REMOVE_ITEM QM_TEST_SUPPORT ${QM_PRIVATE_DESKTOP})
add_library(qmtestsupport STATIC ${QM_TEST_SUPPORT})
# Tests, tools and benchmarks see the whole tree and every layer.
target_include_directories(qmtestsupport PUBLIC ${CMAKE_SOURCE_DIR})
get_property(QM_LAYERS GLOBAL PROPERTY QM_LAYERS)
foreach(layer IN LISTS QM_LAYERS)
  target_link_libraries(qmtestsupport PUBLIC qm_${layer})
endforeach()
target_link_libraries(qmtestsupport PUBLIC GTest::gtest)
qm_test_code(qmtestsupport)

# The layering that the include roots cannot enforce: no include climbing
# out of a layer's folder, and no symbol left undefined by a layer's archive
# that only the archives of layers it does not stand on define (above it,
# or beside it). The script reads the sources
# and the archives with the cross toolchain's nm: no Wine, no display. Its
# self-test builds small layered trees with one known hole each and checks
# that the script finds them.
get_property(QM_LAYERS GLOBAL PROPERTY QM_LAYERS)
set(QM_LAYER_ARCHIVES)
foreach(layer IN LISTS QM_LAYERS)
  get_property(below GLOBAL PROPERTY QM_LAYER_DEPENDS_${layer})
  string(REPLACE ";" "," below "${below}")
  list(APPEND QM_LAYER_ARCHIVES ${layer}=$<TARGET_FILE:qm_${layer}>:${below})
endforeach()
get_filename_component(QM_NM_NAME ${CMAKE_NM} NAME)
string(REGEX REPLACE "nm$" "c++filt" QM_CXXFILT_NAME ${QM_NM_NAME})
find_program(QM_CXXFILT ${QM_CXXFILT_NAME})
set(QM_CXXFILT_ARGS)
if(QM_CXXFILT)
  set(QM_CXXFILT_ARGS --cxxfilt ${QM_CXXFILT})
endif()
add_test(NAME ${QM_ARCH}.layers
  COMMAND bash ${CMAKE_SOURCE_DIR}/tests/layers/check_layers.sh
    --source ${CMAKE_SOURCE_DIR} --nm ${CMAKE_NM} ${QM_CXXFILT_ARGS} ${QM_LAYER_ARCHIVES})
add_test(NAME ${QM_ARCH}.layers_selftest
  COMMAND bash ${CMAKE_SOURCE_DIR}/tests/layers/check_layers_selftest.sh
    --cxx ${CMAKE_CXX_COMPILER} --ar ${CMAKE_AR} --nm ${CMAKE_NM})

# No two files define a class of the same qualified name outside anonymous
# namespaces: the capture client and the test support once both had a
# global CaptureGraph, and a test program linked both
# (tests/layers/class_names.py). It reads the sources with Python 3, which
# the build itself does not need; without it the entry is left out.
find_program(QM_PYTHON3 python3)
if(QM_PYTHON3)
  add_test(NAME ${QM_ARCH}.class_names
    COMMAND ${QM_PYTHON3} ${CMAKE_SOURCE_DIR}/tests/layers/class_names.py ${CMAKE_SOURCE_DIR})
else()
  message(STATUS "python3 not found: no CTest entry ${QM_ARCH}.class_names")
endif()

# The module imports no DLL of Media Foundation, so that it loads where
# Media Foundation is missing, and nothing of Direct3D, DXGI or the Windows
# Runtime, so that it loads where those are missing
# (tests/module/check_module_imports.sh reads its import table with the
# cross toolchain's objdump: no Wine needed). Its self-test shows it
# refusing each kind of import, on import tables of its own and on the
# graphics capture stand-in below, which imports a Windows Runtime API set.
add_test(NAME ${QM_ARCH}.module_imports
  COMMAND bash ${CMAKE_SOURCE_DIR}/tests/module/check_module_imports.sh ${CMAKE_OBJDUMP}
    $<TARGET_FILE:QMCaptureDevice>)
add_test(NAME ${QM_ARCH}.module_imports_selftest
  COMMAND bash ${CMAKE_SOURCE_DIR}/tests/module/check_module_imports_selftest.sh ${CMAKE_OBJDUMP}
    $<TARGET_FILE:graphics_capture_stand_in>)

# One test program per folder of tests/, one CTest entry per program: each
# entry costs a Wine process start, so per-case entries would be slow. A
# layer's tests are in the folder of its name (tests/scaler/ makes
# scaler_tests and x64.scaler); device/, reliability/ and tools/ test the
# built programs and the registered module across the layers.
# Tests are declared here, in the top directory, so that the superbuild can
# include this directory's CTest file with absolute paths.
#
# The programs whose tests create windows and expect the window search to
# find those and no other program's run on a desktop of their own
# (tests/support/private_desktop.cpp).
set(QM_PRIVATE_DESKTOP_TESTS window picture capture)
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
  if(area IN_LIST QM_PRIVATE_DESKTOP_TESTS)
    target_sources(${area}_tests PRIVATE ${QM_PRIVATE_DESKTOP})
  endif()
  target_link_libraries(${area}_tests PRIVATE qmtestsupport)
  qm_test_code(${area}_tests)
  add_dependencies(${area}_tests QMCaptureDevice)
  add_test(NAME ${QM_ARCH}.${area} COMMAND ${area}_tests
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
  # 77: the launcher's "skipped" (tools/wine32.sh), where the machine
  # cannot execute 32-bit programs at all.
  set_tests_properties(${QM_ARCH}.${area} PROPERTIES TIMEOUT 1200 SKIP_RETURN_CODE 77)
  # Both architectures share one Wine desktop. Programs that create or look
  # for captured windows (the window page's tests among them) must not see
  # each other's windows.
  if(NOT area MATCHES "^(module|framework)$")
    set_tests_properties(${QM_ARCH}.${area} PROPERTIES RESOURCE_LOCK wine_desktop)
  endif()
endforeach()

# The pictures again on the SSE2 loops: a processor with AVX2 otherwise
# runs only those of AVX2 in the scaler's and the pictures' tests (the
# loops' own tests compare both either way). One entry per program,
# <arch>.scaler_sse2 and <arch>.picture_sse2, with one filter.
foreach(area IN ITEMS scaler picture)
  if(TARGET ${area}_tests)
    add_test(NAME ${QM_ARCH}.${area}_sse2
      COMMAND ${area}_tests --sse2
        --gtest_filter=FrameScaler*:*Converter*:*Pass*:Checkerboard*:FramePicture*:StandbyFrame*
      WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
    set_tests_properties(${QM_ARCH}.${area}_sse2 PROPERTIES
      TIMEOUT 1200 SKIP_RETURN_CODE 77 RESOURCE_LOCK wine_desktop)
  endif()
endforeach()

# qmcapture with two monitors, which Wine shows only from an X server with
# two outputs: the script starts an Xorg of its own (the dummy driver) and
# a Wine prefix of its own under this build folder, and reports "skipped"
# (77) where Xorg, the dummy driver or xrandr is missing or Xorg does not
# start. The 64-bit client, which runs wherever Wine does.
if(QM_ARCH STREQUAL "x64")
  add_test(NAME ${QM_ARCH}.two_monitors
    COMMAND bash ${CMAKE_SOURCE_DIR}/tests/tools/two_monitors_test.sh $<TARGET_FILE:qmcapture> ${CMAKE_BINARY_DIR})
  # Its X server and fresh prefix keep both cores busy for a while: not
  # beside the programs whose streams keep time on the shared desktop.
  set_tests_properties(${QM_ARCH}.two_monitors PROPERTIES TIMEOUT 600 SKIP_RETURN_CODE 77
    RESOURCE_LOCK wine_desktop)
endif()

# The media source's tests include the Media Foundation declarations of
# mf/ and read through the platform's source reader.
if(TARGET mf_tests)
  qm_use_media_foundation(mf_tests)
  target_link_libraries(mf_tests PRIVATE mfreadwrite mfplat mfuuid)
endif()

# The reliability tests run the media source with memory running out.
if(TARGET reliability_tests)
  qm_use_media_foundation(reliability_tests)
  target_link_libraries(reliability_tests PRIVATE mfplat mfuuid)
endif()

# The frame ring's tests read frames from a writer in a process of its own,
# which they start from beside ring_tests and kill
# (tests/ring/frame_ring_writer/, outside the folder's glob).
add_executable(frame_ring_writer ${CMAKE_SOURCE_DIR}/tests/ring/frame_ring_writer/frame_ring_writer.cpp)
target_link_libraries(frame_ring_writer PRIVATE qmtestsupport)
qm_test_code(frame_ring_writer)
add_dependencies(ring_tests frame_ring_writer)

# Wine has no Windows.Graphics.Capture runtime. The graphics capture tests
# and benchmark register this stand-in for it under the real class names,
# so that the reader finds it through the real activation path
# (tests/window/graphics_capture_stand_in/, outside the folder's glob; its
# exports undecorated on x86 too, as Wine looks them up). It is test code
# and may import what the module must not.
add_library(graphics_capture_stand_in MODULE
  ${CMAKE_SOURCE_DIR}/tests/window/graphics_capture_stand_in/graphics_capture_stand_in.cpp
  ${CMAKE_SOURCE_DIR}/tests/window/graphics_capture_stand_in/graphics_capture_stand_in.def)
set_target_properties(graphics_capture_stand_in PROPERTIES PREFIX "")
target_include_directories(graphics_capture_stand_in PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_options(graphics_capture_stand_in PRIVATE $<$<COMPILE_LANGUAGE:CXX>:-O1>)
target_link_libraries(graphics_capture_stand_in PRIVATE dwmapi runtimeobject)
add_dependencies(window_tests graphics_capture_stand_in)
