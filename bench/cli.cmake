# The vantor tool with several devices: eight paced simulated devices against one.
if(NOT WIN32 AND TARGET vantor)
  add_executable(multi_device_bench ${CMAKE_CURRENT_LIST_DIR}/multi_device_bench.cpp)
  target_link_libraries(multi_device_bench PRIVATE vantor_devsim)
  target_compile_definitions(multi_device_bench PRIVATE VANTOR_BINARY="$<TARGET_FILE:vantor>")
  add_dependencies(multi_device_bench vantor)
endif()
