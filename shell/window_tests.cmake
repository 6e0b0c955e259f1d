# Read by ctest after the list of shell_tests' tests: the window tests share the X server's
# keyboard focus and pointer, so no two of them run at once (the lock is x_display).
set(window_suites Form1Test Form1Presets Form1Ending ProgramWindow GlViewTest
  ProgramStart ProgramRecords ProgramRecordsFile RecordsWindow RecordsWindowFile
  ProgramWithoutGl)
list(JOIN window_suites "|" window_suites)
foreach(test IN LISTS shell_tests_TESTS)
  if(test MATCHES "^(${window_suites})\\.")
    set_tests_properties("${test}" PROPERTIES RESOURCE_LOCK x_display)
  endif()
endforeach()
