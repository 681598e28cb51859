# The device's code in layers the build enforces, each folder a static
# library. A layer names the layers it stands on (DEPENDS); it links those
# and everything they stand on, privately, and sees their headers and no
# others. Layers on the same ground are siblings: neither sees the other.
#
# Every include is written "folder/file.h" from the top of the tree. A
# layer's library therefore does not get the top of the tree as an include
# directory: it gets an include root of its own, a folder in the build tree
# that holds a link to its own source folder and nothing else. A library
# sees its own root and the roots of the layers it stands on, so an include
# of any other layer's folder is not found and the compile fails.
#
# A header that no source file of its layer includes would escape that
# check, so each layer also compiles one generated file that includes every
# header of its folder.
#
# Two holes remain that include roots cannot close: an include with a ".."
# component, which the compiler resolves from the including file's folder,
# and a declaration written by hand of something only another layer
# defines (an extern variable, a function). The CTest entry
# <arch>.layers (tests/layers/check_layers.sh) looks for both, in the
# sources and in the layers' archives, with what each layer stands on (the
# global properties QM_LAYERS and QM_LAYER_DEPENDS_<layer>).

set(QM_LAYER_ROOTS ${CMAKE_BINARY_DIR}/layers)

# The system headers nearly every file of the product includes (windows.h
# alone is some 90,000 lines), parsed once per library instead of once per
# file: each of the four trees compiles every file of the product, and
# parsing them was most of the build's time. Not the DirectShow headers:
# through strsafe.h they turn the C library's string functions into
# errors, and they turn off shlwapi's string functions, which Media
# Foundation's propvarutil.h needs; a file takes them when it needs them.
set(QM_SYSTEM_HEADERS
  <windows.h> <wrl/client.h>
  <algorithm> <atomic> <cstddef> <cstdint> <cstring> <cwchar> <memory> <new> <string> <utility> <vector>)
function(qm_precompile_system_headers target)
  set_property(GLOBAL APPEND PROPERTY QM_PRECOMPILED_USERS_system ${target})
endfunction()

# A precompiled copy of a header list is some 120 MB. Made for every
# target, they came to several gigabytes per tree, four trees per build,
# and filled the disk of a small machine. So a target only says which list
# it takes (qm_precompile_system_headers, or the tests' qm_test_code), and
# at the end of the configuration qm_share_precompiled_headers compiles
# each list once, in a target of its own with the same options, and every
# target of that list reuses it. Media Foundation's targets raise WINVER,
# which changes what windows.h declares: they share a copy of their own.
function(qm_share_precompiled_headers)
  set(stub ${CMAKE_BINARY_DIR}/precompiled/precompiled.cpp)
  file(CONFIGURE OUTPUT ${stub}
    CONTENT "// Generated: the translation unit of the shared precompiled headers.\n" @ONLY)
  foreach(list IN ITEMS system test)
    get_property(users GLOBAL PROPERTY QM_PRECOMPILED_USERS_${list})
    foreach(user IN LISTS users)
      get_target_property(media_foundation ${user} QM_MEDIA_FOUNDATION)
      set(base qm_precompiled_${list})
      if(media_foundation)
        string(APPEND base _media_foundation)
      endif()
      if(NOT TARGET ${base})
        add_library(${base} STATIC ${stub})
        if(list STREQUAL "system")
          target_precompile_headers(${base} PRIVATE ${QM_SYSTEM_HEADERS})
        else()
          target_precompile_headers(${base} PRIVATE ${QM_TEST_HEADERS})
          target_compile_options(${base} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:-O1>)
          target_link_libraries(${base} PRIVATE GTest::gtest)
        endif()
        if(media_foundation)
          qm_use_media_foundation(${base})
        endif()
      endif()
      target_precompile_headers(${user} REUSE_FROM ${base})
    endforeach()
  endforeach()
endfunction()

# qm_add_layer(<folder> [MEDIA_FOUNDATION] [DEPENDS <folder>...]
#              [EXPOSES <folder>...] [SYSTEM_LIBRARIES <library>...])
# Builds <folder>/*.cpp into the static library qm_<folder>. DEPENDS names
# the layers it stands on directly (added before it); it links them and
# what they stand on, privately. EXPOSES names folders
# without code of their own that the layer and its users may include
# (resources/); SYSTEM_LIBRARIES are the Windows import libraries its code
# calls into. MEDIA_FOUNDATION: the layer's code uses Media Foundation
# (qm_use_media_foundation) rather than DirectShow.
function(qm_add_layer folder)
  cmake_parse_arguments(PARSE_ARGV 1 LAYER "MEDIA_FOUNDATION" "" "DEPENDS;EXPOSES;SYSTEM_LIBRARIES")
  set(root ${QM_LAYER_ROOTS}/${folder})
  file(MAKE_DIRECTORY ${root})
  foreach(exposed IN ITEMS ${folder} ${LAYER_EXPOSES})
    file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${exposed} ${root}/${exposed} SYMBOLIC)
  endforeach()

  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${folder}/*.cpp)
  file(GLOB headers CONFIGURE_DEPENDS RELATIVE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/${folder}/*.h)
  set(includes "// Generated: every header of ${folder}/, compiled with the layer's own include roots.\n")
  foreach(header IN LISTS headers)
    string(APPEND includes "#include \"${header}\"\n")
  endforeach()
  # Rewritten only when the list changes, so that a configure run does
  # not rebuild it.
  set(check ${QM_LAYER_ROOTS}/checks/${folder}_headers.cpp)
  file(CONFIGURE OUTPUT ${check} CONTENT "${includes}" @ONLY)

  add_library(qm_${folder} STATIC ${sources} ${check})
  if(LAYER_MEDIA_FOUNDATION)
    qm_use_media_foundation(qm_${folder})
  endif()
  qm_precompile_system_headers(qm_${folder})
  # The file of every header is compiled without the precompiled system
  # headers, as a user of the layer compiles them.
  set_source_files_properties(${check} PROPERTIES SKIP_PRECOMPILE_HEADERS ON)
  target_include_directories(qm_${folder} PUBLIC ${root})
  set(closure)
  foreach(dependency IN LISTS LAYER_DEPENDS)
    get_property(below GLOBAL PROPERTY QM_LAYER_CLOSURE_${dependency})
    if(NOT TARGET qm_${dependency})
      message(FATAL_ERROR "layer ${folder} stands on ${dependency}, which is not added before it")
    endif()
    list(APPEND closure ${dependency} ${below})
  endforeach()
  list(REMOVE_DUPLICATES closure)
  foreach(dependency IN LISTS closure)
    target_link_libraries(qm_${folder} PRIVATE qm_${dependency})
  endforeach()
  set_property(GLOBAL PROPERTY QM_LAYER_CLOSURE_${folder} ${closure})
  set_property(GLOBAL PROPERTY QM_LAYER_DEPENDS_${folder} ${LAYER_DEPENDS})
  target_link_libraries(qm_${folder} PRIVATE ${LAYER_SYSTEM_LIBRARIES})
  set_property(GLOBAL APPEND PROPERTY QM_LAYERS ${folder})
endfunction()

# qm_use_media_foundation(<target>)
# The Media Foundation interfaces the media source implements
# (IMFMediaSourceEx among them) are declared by mfidl.h only for Windows 8
# and later, while the project builds for Windows 7 (WINVER 0x0601). The
# targets whose sources include mf/ headers that need them raise WINVER for
# themselves; the options come after the project's definitions on the
# command line, so the value is replaced rather than defined twice.
function(qm_use_media_foundation target)
  set_property(TARGET ${target} PROPERTY QM_MEDIA_FOUNDATION ON)
  target_compile_options(${target} PRIVATE
    $<$<COMPILE_LANGUAGE:CXX>:-UWINVER> $<$<COMPILE_LANGUAGE:CXX>:-DWINVER=0x0A00>)
endfunction()
