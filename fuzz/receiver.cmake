# The frame receiver fed arbitrary device bytes over a pseudo-terminal.
add_executable(fuzz_receiver ${CMAKE_CURRENT_LIST_DIR}/fuzz_receiver.cpp)
target_link_libraries(fuzz_receiver PRIVATE vantor_protocol)
target_compile_options(fuzz_receiver PRIVATE -fsanitize=fuzzer)
target_link_options(fuzz_receiver PRIVATE -fsanitize=fuzzer)
add_test(NAME fuzz_receiver COMMAND fuzz_receiver -runs=3000 -max_len=1200 -timeout=10)
