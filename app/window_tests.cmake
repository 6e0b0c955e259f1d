# Read by ctest after the list of app_tests' tests: the window tests share the X server's
# keyboard focus and pointer, so no two of them run at once (the lock is x_display).
set(window_suites Form1Test Form1Presets Form1Ending Form1Clock ProgramWindow GlViewTest GlViewShowing
  ProgramStart ProgramRecords ProgramRecordsFile RecordsWindow RecordsWindowFile
  ProgramWithoutGl GameInWindow GameProgram ScreenWindow ReplayWindow NetWindow WindowWords
  ProgramLanguage NetDialog)
list(JOIN window_suites "|" window_suites)
foreach(test IN LISTS app_tests_TESTS)
  if(test MATCHES "^(${window_suites})\\.")
    set_tests_properties("${test}" PROPERTIES RESOURCE_LOCK x_display)
  endif()
endforeach()

# A whole game of the program runs its full minute, with the record prompt after it. (list(FIND),
# not IN_LIST: ctest reads this file without the project's policies.)
foreach(full_minute GameProgram.AFullMinuteWithCtrlTappedScoresAndTheRecordTakesTheTypedName
    GameProgram.ARecordNamedInThePromptIsInTheFileBeforeTheProgramEnds)
  list(FIND app_tests_TESTS ${full_minute} found)
  if(found GREATER -1)
    set_tests_properties(${full_minute} PROPERTIES TIMEOUT 200)
  endif()
endforeach()
