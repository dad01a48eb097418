# Pelion's hex listing: a full-window listing and the placeholder reset on the real widgets.
if(VANTOR_GUI AND TARGET pelion_lib)
  add_executable(hex_listing_bench ${CMAKE_CURRENT_LIST_DIR}/hex_listing_bench.cpp)
  target_link_libraries(hex_listing_bench PRIVATE pelion_lib)
endif()
