# Tests that need Windows: they run under Wine through the cross-compiling emulator.
set(manifest_rc ${CMAKE_CURRENT_BINARY_DIR}/common_controls.rc)
file(WRITE ${manifest_rc} "1 24 \"${CMAKE_CURRENT_SOURCE_DIR}/common_controls.manifest\"\n")

add_library(skin_test_window STATIC skin_test_window.cpp)
target_link_libraries(skin_test_window PUBLIC comctl32 gdi32 user32 PRIVATE quorvane_options)

add_executable(skin_engine_test skin_engine_test.cpp ${manifest_rc})
target_include_directories(skin_engine_test PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(skin_engine_test PRIVATE skin_test_window quorvane_default_skin_text)
add_dependencies(skin_engine_test quorvane_skin)
quorvane_add_gtest(skin_engine_test)

# Stand-in libraries for the carrying tests.
add_library(skin_probe SHARED skin_probe.cpp)
add_library(skin_no_export SHARED skin_no_export.cpp)
foreach(library skin_probe skin_no_export)
  set_target_properties(${library} PROPERTIES PREFIX "")
  target_link_libraries(${library} PRIVATE quorvane_options)
endforeach()
quorvane_undecorated_exports(skin_probe ${PROJECT_SOURCE_DIR}/skin/engine/skin_engine.def)
quorvane_undecorated_exports(skin_no_export ${CMAKE_CURRENT_SOURCE_DIR}/skin_no_export.def)

add_executable(skin_attach_test skin_attach_test.cpp ${manifest_rc})
target_include_directories(skin_attach_test PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(skin_attach_test PRIVATE skin_test_window quorvane_default_skin_text)
add_dependencies(skin_attach_test skin_probe skin_no_export)
quorvane_carry_skin(skin_attach_test)
quorvane_add_gtest(skin_attach_test)

set(probe_payload ${CMAKE_CURRENT_SOURCE_DIR}/data/probe_payload.bin)
file(SIZE ${probe_payload} probe_payload_size)
add_executable(skin_probe_carrier skin_probe_carrier.cpp)
target_include_directories(skin_probe_carrier PRIVATE ${PROJECT_SOURCE_DIR})
target_compile_definitions(skin_probe_carrier PRIVATE QUORVANE_PROBE_SKIN_SIZE=${probe_payload_size})
target_link_libraries(skin_probe_carrier PRIVATE quorvane_options)
quorvane_carry_skin(skin_probe_carrier LIBRARY skin_probe SKIN ${probe_payload})
add_test(NAME skin_probe_carrier COMMAND skin_probe_carrier)

add_executable(skin_uncarried skin_uncarried.cpp)
target_link_libraries(skin_uncarried PRIVATE quorvane_skin_attach quorvane_options user32)
add_test(NAME skin_uncarried COMMAND skin_uncarried)

# Their windows show and take the focus: they must not steal keys meant for
# another test's window on the shared display.
if(CMAKE_CROSSCOMPILING_EMULATOR)
  set_tests_properties(skin_engine_test skin_attach_test PROPERTIES
    FIXTURES_REQUIRED wine_desktop RESOURCE_LOCK wine_desktop)
endif()

# Screenshots of the skinned program at 100 % and 150 % DPI, and of every kind of
# control, in build/<preset>/screenshots/.
add_executable(skin_gallery skin_gallery.cpp ${manifest_rc})
target_include_directories(skin_gallery PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(skin_gallery PRIVATE skin_test_window quorvane_options)
quorvane_wide_entry(skin_gallery)
quorvane_carry_skin(skin_gallery)
if(CMAKE_CROSSCOMPILING)
  list(GET CMAKE_CROSSCOMPILING_EMULATOR 0 runner)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(wine_arch win32)
  else()
    set(wine_arch win64)
  endif()
  add_test(NAME skin_screenshots
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/screenshots.sh ${runner} ${CMAKE_BINARY_DIR} ${wine_arch}
            $<TARGET_FILE:quorvane> $<TARGET_FILE:skin_gallery> $<TARGET_FILE:text_regions>
            ${CMAKE_BINARY_DIR}/screenshots F4F5F7)
  set_tests_properties(skin_screenshots PROPERTIES RUN_SERIAL TRUE TIMEOUT 600 FIXTURES_SETUP skin_shots)
  # The tool window alone and the help window, read back at 100 % and 150 %.
  set(shots ${CMAKE_BINARY_DIR}/screenshots)
  add_test(NAME skin_legibility
    COMMAND python3 ${PROJECT_SOURCE_DIR}/tests/ui/legibility.py --keep ${shots}/read
            ${shots}/tool-100.png ${shots}/skin-100.png ${shots}/tool-150.png ${shots}/skin-150.png)
  set_tests_properties(skin_legibility PROPERTIES FIXTURES_REQUIRED skin_shots TIMEOUT 180)
endif()
