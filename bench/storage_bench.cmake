# Storage benchmarks: append and store rates on a file, and opening the
# measurement browser on a 10-million-row log. Run: build/bench/storage_bench
# (the 10-million-row file is written once into the build directory).
add_executable(storage_bench ${CMAKE_CURRENT_LIST_DIR}/storage_bench.cpp)
target_link_libraries(storage_bench PRIVATE station benchmark::benchmark)
add_dependencies(storage_bench control_db)
target_compile_definitions(storage_bench PRIVATE
  STATION_DB_TEMPLATE="${STATION_DB_FILE}"
  BENCH_BIG_DIR="${CMAKE_BINARY_DIR}/bench_data")
