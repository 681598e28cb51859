# The Windows setup program, built by the superbuild once both
# architectures are:
#   build/QMCaptureDevice-<version>-setup.exe
# from tools/windows/installer.nsi by NSIS's makensis (Debian's "nsis",
# which tools/setup.sh installs). It is part of the default build, so that
# the installer test finds it; it is made again only when a file it packs
# or its script changed. Build it alone with:
#   cmake --build build --target installer
# Needs QM_VERSION from Package.cmake.

set(QM_SETUP_NAME QMCaptureDevice-${QM_VERSION}-setup.exe)
set(QM_SETUP ${CMAKE_BINARY_DIR}/${QM_SETUP_NAME})
set(QM_SETUP_SCRIPT ${CMAKE_SOURCE_DIR}/tools/windows/installer.nsi)
set(QM_SETUP_BINARIES QMCaptureDevice.ax qmsettings.exe qmcapture.exe qmcamera.exe quillmere_demo.exe)

find_program(QM_MAKENSIS makensis)
if(NOT QM_MAKENSIS)
  set(QM_SETUP_MISSING "makensis was not found: install the package nsis (tools/setup.sh does)")
  add_custom_target(installer
    COMMAND ${CMAKE_COMMAND} -E echo "installer: ${QM_SETUP_MISSING}"
    COMMAND ${CMAKE_COMMAND} -E false
    VERBATIM)
  if(QM_BUILD_TESTS)
    # The test still runs, and fails naming the cause.
    add_test(NAME installer COMMAND ${CMAKE_COMMAND} -E echo "installer test: ${QM_SETUP_MISSING}")
    set_tests_properties(installer PROPERTIES WILL_FAIL TRUE)
  endif()
  return()
endif()

set(QM_SETUP_INPUTS ${QM_SETUP_SCRIPT} ${CMAKE_SOURCE_DIR}/tools/windows/USER-GUIDE.txt)
foreach(arch IN LISTS QM_ARCHES)
  foreach(file IN LISTS QM_SETUP_BINARIES)
    list(APPEND QM_SETUP_INPUTS ${CMAKE_BINARY_DIR}/${arch}/bin/${file})
  endforeach()
endforeach()

add_custom_command(OUTPUT ${QM_SETUP}
  COMMAND ${QM_MAKENSIS} -V2 -INPUTCHARSET UTF8
          -DVERSION=${QM_VERSION}
          -DX86_DIR=${CMAKE_BINARY_DIR}/x86/bin
          -DX64_DIR=${CMAKE_BINARY_DIR}/x64/bin
          -DDOC_DIR=${CMAKE_SOURCE_DIR}/tools/windows
          -DOUTFILE=${QM_SETUP}
          ${QM_SETUP_SCRIPT}
  DEPENDS ${QM_SETUP_INPUTS}
  COMMENT "Building ${QM_SETUP_NAME}"
  VERBATIM)
add_custom_target(installer ALL DEPENDS ${QM_SETUP})
add_dependencies(installer ${QM_ARCHES})

if(NOT QM_BUILD_TESTS)
  return()
endif()

# Installs, upgrades and uninstalls under Wine, in a Wine prefix of the
# test's own below build/installer-test (the device registration writes
# HKEY_LOCAL_MACHINE, which the other tests' prefix must keep as it is).
add_test(NAME installer
  COMMAND bash ${CMAKE_SOURCE_DIR}/tests/installer/installer_test.sh
          --setup ${QM_SETUP} --build ${CMAKE_BINARY_DIR} --work ${CMAKE_BINARY_DIR}/installer-test
          --version ${QM_VERSION} --script ${QM_SETUP_SCRIPT})
# Its capture of the demo window reads what the shared display shows, so it
# must not run while other test programs put windows on that display.
# The setup program is a 32-bit program: where the machine cannot execute
# 32-bit programs, the test says so and exits with 77, "skipped".
set_tests_properties(installer PROPERTIES TIMEOUT 900 RESOURCE_LOCK wine_desktop SKIP_RETURN_CODE 77)
