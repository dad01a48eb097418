# The simulated device fed arbitrary host bytes with a fake clock.
add_executable(fuzz_devsim_input ${CMAKE_CURRENT_LIST_DIR}/fuzz_devsim_input.cpp)
target_link_libraries(fuzz_devsim_input PRIVATE vantor_devsim)
target_compile_options(fuzz_devsim_input PRIVATE -fsanitize=fuzzer)
target_link_options(fuzz_devsim_input PRIVATE -fsanitize=fuzzer)
add_test(NAME fuzz_devsim_input COMMAND fuzz_devsim_input -runs=20000 -max_len=600 -timeout=10)
