# The station's per-unit overhead for the production database (PostgreSQL), against local files.
if(NOT WIN32 AND VANTOR_DATABASE_FOUND)
  add_executable(database_bench ${CMAKE_CURRENT_LIST_DIR}/database_bench.cpp)
  target_link_libraries(database_bench PRIVATE vantor_production)
  target_compile_definitions(database_bench PRIVATE VANTOR_BENCH_DIR="${CMAKE_CURRENT_BINARY_DIR}"
    VANTOR_PG_SCRIPT="${PROJECT_SOURCE_DIR}/tests/support/postgres_cluster.sh")
endif()
