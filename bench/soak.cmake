# soak: sessions of the vantor tool's commands against simulated devices on noisy lines, checked
# against what the device holds (soak.cpp). Defined whenever the benchmarks or the tests are built
# (the sanitizer build has no benchmarks); the test command runs a short soak.
if(WIN32 OR TARGET soak OR NOT TARGET vantor_cli_lib)
  return()
endif()
add_executable(soak ${CMAKE_CURRENT_LIST_DIR}/soak.cpp)
target_link_libraries(soak PRIVATE vantor_cli_lib)
if(VANTOR_TESTS)
  add_test(NAME soak_short COMMAND soak --sessions 200 --jobs 48)
  set_tests_properties(soak_short PROPERTIES TIMEOUT 300)
endif()
