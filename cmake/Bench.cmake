# Benchmark programs: every bench/*.cpp is one program that prints figures.
# They are run by hand (tools/with-wine.sh wine build/x86/bin/<name>.exe),
# not by CTest: their figures are measurements, not pass/fail results.
file(GLOB QM_BENCH_SUPPORT CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/bench/support/*.cpp)
add_library(qmbenchsupport STATIC ${QM_BENCH_SUPPORT})
target_link_libraries(qmbenchsupport PUBLIC qmtestsupport)
qm_test_code(qmbenchsupport)

file(GLOB QM_BENCH_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/bench/*.cpp)
foreach(source IN LISTS QM_BENCH_SOURCES)
  get_filename_component(name ${source} NAME_WE)
  add_executable(${name} ${source})
  target_link_libraries(${name} PRIVATE qmbenchsupport)
  qm_test_code(${name})
endforeach()
# The graphics capture benchmark reads through the tests' stand-in for the
# capture runtime (cmake/Tests.cmake).
if(TARGET graphics_capture_bench)
  add_dependencies(graphics_capture_bench graphics_capture_stand_in)
endif()
