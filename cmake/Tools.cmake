# The programs around the device: the capture client qmcapture, the demo
# source window quillmere_demo and the settings program qmsettings, for
# both architectures.

# qmcamera's single-instance mutex: qmcamera claims it, and qmcapture
# --check looks whether it is held. A library of its own, so that the
# capture client need not link qmcamera's Media Foundation imports.
add_library(qmsingleinstance STATIC ${CMAKE_SOURCE_DIR}/tools/camera_app/single_instance.cpp)
target_include_directories(qmsingleinstance PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(qmsingleinstance PUBLIC qm_ring advapi32)

# Everything of the capture client but its entry point, so that the tool
# tests can call its units directly.
file(GLOB QM_CAPTURE_CLIENT_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tools/capture_client/*.cpp)
list(FILTER QM_CAPTURE_CLIENT_SOURCES EXCLUDE REGEX "/main\\.cpp$")
add_library(qmcaptureclient STATIC ${QM_CAPTURE_CLIENT_SOURCES})
qm_precompile_system_headers(qmcaptureclient)
target_include_directories(qmcaptureclient PUBLIC ${CMAKE_SOURCE_DIR})
# It lists windows and stores settings with the device's own code, and may
# use any layer of it.
get_property(QM_LAYERS GLOBAL PROPERTY QM_LAYERS)
foreach(layer IN LISTS QM_LAYERS)
  target_link_libraries(qmcaptureclient PUBLIC qm_${layer})
endforeach()
target_link_libraries(qmcaptureclient PUBLIC qmsingleinstance strmiids uuid ole32 oleaut32 user32)

add_executable(qmcapture ${CMAKE_SOURCE_DIR}/tools/capture_client/main.cpp)
target_link_libraries(qmcapture PRIVATE qmcaptureclient)

file(GLOB QM_DEMO_WINDOW_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tools/demo_window/*.cpp)
add_executable(quillmere_demo WIN32 ${QM_DEMO_WINDOW_SOURCES})
target_include_directories(quillmere_demo PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(quillmere_demo PRIVATE user32 gdi32 shell32)

# The settings program: the standard property frame on the registered
# device, a program of the Windows subsystem (no console window when started
# from the Start menu). Of the device's code it uses only the class
# identifiers.
add_executable(qmsettings WIN32
  ${CMAKE_SOURCE_DIR}/tools/settings_app/main.cpp ${CMAKE_SOURCE_DIR}/tools/settings_app/camera_picker.cpp
  ${CMAKE_SOURCE_DIR}/tools/settings_app/qmsettings.rc)
target_link_libraries(qmsettings PRIVATE qmcaptureclient oleaut32 ole32 user32 shell32)
target_compile_definitions(qmsettings PRIVATE
  QM_VERSION_MAJOR=${PROJECT_VERSION_MAJOR} QM_VERSION_MINOR=${PROJECT_VERSION_MINOR}
  QM_VERSION_PATCH=${PROJECT_VERSION_PATCH})

if(MINGW)
  # wmain and wWinMain entry points.
  target_link_options(qmcapture PRIVATE -municode)
  target_link_options(quillmere_demo PRIVATE -municode)
  target_link_options(qmsettings PRIVATE -municode)
endif()

# The tool tests run qmcapture.exe, quillmere_demo.exe and qmsettings.exe
# from beside themselves.
if(TARGET tools_tests)
  target_link_libraries(tools_tests PRIVATE qmcaptureclient)
  add_dependencies(tools_tests qmcapture quillmere_demo qmsettings)
endif()
# The standby picture tests write their PNG files with the client's writer
# (tests/support/standby_test_files.h).
foreach(area IN ITEMS picture capture camera)
  if(TARGET ${area}_tests)
    target_link_libraries(${area}_tests PRIVATE qmcaptureclient)
  endif()
endforeach()

# qmcamera: the Windows 11 virtual cameras (MFCreateVirtualCamera, loaded
# from mfsensorgroup.dll at run time) and the writer of their frame rings.
# Everything but its entry point is a library, which the tool tests call.
file(GLOB QM_CAMERA_APP_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tools/camera_app/*.cpp)
list(FILTER QM_CAMERA_APP_SOURCES EXCLUDE REGEX "/(main|single_instance)\\.cpp$")
add_library(qmcameraapp STATIC ${QM_CAMERA_APP_SOURCES})
qm_precompile_system_headers(qmcameraapp)
target_include_directories(qmcameraapp PUBLIC ${CMAKE_SOURCE_DIR})
foreach(layer IN LISTS QM_LAYERS)
  target_link_libraries(qmcameraapp PUBLIC qm_${layer})
endforeach()
target_link_libraries(qmcameraapp PUBLIC qmsingleinstance mfplat mfuuid uuid ole32 user32 gdi32
  advapi32 winmm dwmapi shell32)
qm_use_media_foundation(qmcameraapp)

add_executable(qmcamera ${CMAKE_SOURCE_DIR}/tools/camera_app/main.cpp)
target_link_libraries(qmcamera PRIVATE qmcameraapp)
qm_use_media_foundation(qmcamera)
if(MINGW)
  target_link_options(qmcamera PRIVATE -municode)
endif()
# qmmfclient: a Media Foundation client of the camera's media source, made
# through its registered class and read through a source reader; the tool
# tests run it as the other process of the whole chain. It converts and
# saves frames with the capture client's own code (yuv_frame, png_file), so
# that what the two cameras deliver is compared the same way.
add_executable(qmmfclient ${CMAKE_SOURCE_DIR}/tools/mf_client/main.cpp)
target_include_directories(qmmfclient PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(qmmfclient PRIVATE qmcaptureclient mfplat mfreadwrite mfuuid ole32 windowscodecs)
qm_use_media_foundation(qmmfclient)
if(MINGW)
  target_link_options(qmmfclient PRIVATE -municode)
endif()
# The tool tests run this program with Media Foundation taken away: it
# creates the module's classes as an application does
# (tests/tools/mf_absent_probe/, outside the folder's glob).
if(TARGET tools_tests)
  add_executable(mf_absent_probe ${CMAKE_SOURCE_DIR}/tests/tools/mf_absent_probe/mf_absent_probe.cpp)
  target_include_directories(mf_absent_probe PRIVATE ${CMAKE_SOURCE_DIR})
  target_link_libraries(mf_absent_probe PRIVATE ole32 uuid)
  if(MINGW)
    target_link_options(mf_absent_probe PRIVATE -municode)
  endif()
  add_dependencies(tools_tests mf_absent_probe)
endif()
if(TARGET tools_tests)
  target_link_libraries(tools_tests PRIVATE qmcameraapp)
  qm_use_media_foundation(tools_tests)
  add_dependencies(tools_tests qmcamera qmmfclient)
endif()
