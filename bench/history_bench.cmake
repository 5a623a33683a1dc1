# History benchmarks: a chart channel's memory under the default limit, a
# 30-day span drawn from a 10-million-row log, opening the history view.
# Run: build/bench/history_bench (the 10-million-row file is written once into
# the build directory, bench_data/history/, about 1.4 GB, a minute or two).
add_executable(history_bench ${CMAKE_CURRENT_LIST_DIR}/history_bench.cpp)
target_link_libraries(history_bench PRIVATE station benchmark::benchmark)
add_dependencies(history_bench control_db)
target_compile_definitions(history_bench PRIVATE
  STATION_DB_TEMPLATE="${STATION_DB_FILE}"
  BENCH_BIG_DIR="${CMAKE_BINARY_DIR}/bench_data")
