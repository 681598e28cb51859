# The Windows zip, built by the superbuild once both architectures are:
#   build/QMCaptureDevice-<version>.zip
#     x86/ and x64/: QMCaptureDevice.ax, qmsettings.exe, qmcapture.exe, qmcamera.exe,
#       quillmere_demo.exe
#     install.cmd, uninstall.cmd, USER-GUIDE.txt
# Build it with: cmake --build build --target package_zip

# The version is the inner project's; the superbuild has no languages and
# no version of its own.
file(STRINGS ${CMAKE_SOURCE_DIR}/CMakeLists.txt QM_PROJECT_LINE REGEX "^project\\(QMCaptureDevice VERSION ")
string(REGEX MATCH "VERSION ([0-9]+(\\.[0-9]+)*)" QM_VERSION_MATCH "${QM_PROJECT_LINE}")
if(NOT CMAKE_MATCH_1)
  message(FATAL_ERROR "Package.cmake: no version found in CMakeLists.txt")
endif()
set(QM_VERSION ${CMAKE_MATCH_1})

set(QM_PACKAGE_NAME QMCaptureDevice-${QM_VERSION})
set(QM_PACKAGE_STAGE ${CMAKE_BINARY_DIR}/package/${QM_PACKAGE_NAME})
set(QM_PACKAGE_ZIP ${CMAKE_BINARY_DIR}/${QM_PACKAGE_NAME}.zip)
set(QM_PACKAGE_BINARIES QMCaptureDevice.ax qmsettings.exe qmcapture.exe qmcamera.exe quillmere_demo.exe)
set(QM_PACKAGE_DOCUMENTS install.cmd uninstall.cmd USER-GUIDE.txt)

set(QM_PACKAGE_COMMANDS)
foreach(arch IN LISTS QM_ARCHES)
  list(APPEND QM_PACKAGE_COMMANDS COMMAND ${CMAKE_COMMAND} -E make_directory ${QM_PACKAGE_STAGE}/${arch})
  foreach(file IN LISTS QM_PACKAGE_BINARIES)
    list(APPEND QM_PACKAGE_COMMANDS
      COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_BINARY_DIR}/${arch}/bin/${file} ${QM_PACKAGE_STAGE}/${arch}/${file})
  endforeach()
endforeach()
foreach(file IN LISTS QM_PACKAGE_DOCUMENTS)
  list(APPEND QM_PACKAGE_COMMANDS
    COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/tools/windows/${file} ${QM_PACKAGE_STAGE}/${file})
endforeach()

# A fresh stage each time, so that nothing left from an earlier build
# slips into the zip.
add_custom_target(package_zip
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${QM_PACKAGE_STAGE} ${QM_PACKAGE_ZIP}
  ${QM_PACKAGE_COMMANDS}
  COMMAND ${CMAKE_COMMAND} -E chdir ${QM_PACKAGE_STAGE}
          ${CMAKE_COMMAND} -E tar cf ${QM_PACKAGE_ZIP} --format=zip -- ${QM_ARCHES} ${QM_PACKAGE_DOCUMENTS}
  COMMAND ${CMAKE_COMMAND} -E echo "Packed ${QM_PACKAGE_ZIP}"
  COMMENT "Packing ${QM_PACKAGE_NAME}.zip"
  VERBATIM)
add_dependencies(package_zip ${QM_ARCHES})
