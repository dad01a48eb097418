# transfer_bench: a CODE download and a boot-region read-back against the simulated device on a
# pseudo-terminal, paced at the line rate and unpaced.
if(NOT WIN32)
  add_executable(transfer_bench ${CMAKE_CURRENT_LIST_DIR}/transfer_bench.cpp)
  target_link_libraries(transfer_bench PRIVATE vantor_protocol vantor_devsim)
endif()
