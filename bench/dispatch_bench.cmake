# Cost of one poll reply in the engine, from the receive handler to the end of
# the reply dispatch, on a database file, without and with publishing to a
# local Mosquitto broker.
# Run: build/bench/dispatch_bench
add_executable(dispatch_bench ${CMAKE_CURRENT_LIST_DIR}/dispatch_bench.cpp)
target_link_libraries(dispatch_bench PRIVATE engine benchmark::benchmark PkgConfig::MOSQUITTO)
# The broker it starts for mqtt=1 comes from the tests' helpers.
target_include_directories(dispatch_bench PRIVATE ${CMAKE_SOURCE_DIR}/tests/common)
add_dependencies(dispatch_bench control_db)
target_compile_definitions(dispatch_bench PRIVATE
  STATION_DB_TEMPLATE="${STATION_DB_FILE}"
  BENCH_DATA_DIR="${CMAKE_BINARY_DIR}/bench_data")
