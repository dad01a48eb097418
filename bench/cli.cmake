# The vantor tool with several devices: eight paced simulated devices against one.
if(NOT WIN32 AND TARGET vantor)
  add_executable(multi_device_bench ${CMAKE_CURRENT_LIST_DIR}/multi_device_bench.cpp)
  target_link_libraries(multi_device_bench PRIVATE vantor_devsim)
  target_compile_definitions(multi_device_bench PRIVATE VANTOR_BINARY="$<TARGET_FILE:vantor>")
  add_dependencies(multi_device_bench vantor)
endif()
# The station's scale: 1, 8, 16 and 32 paced devices at once, and the host's CPU per device.
if(NOT WIN32 AND TARGET vantor)
  add_executable(station_bench ${CMAKE_CURRENT_LIST_DIR}/station_bench.cpp)
  target_link_libraries(station_bench PRIVATE vantor_protocol vantor_devsim)
  target_compile_definitions(station_bench PRIVATE VANTOR_BINARY="$<TARGET_FILE:vantor>")
  add_dependencies(station_bench vantor)
endif()
