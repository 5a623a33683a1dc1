# Start-up: process start to the main window's first paint, and resident memory.
add_executable(startup_bench ${CMAKE_CURRENT_LIST_DIR}/startup_bench.cpp)
target_link_libraries(startup_bench PRIVATE station benchmark::benchmark)
target_compile_definitions(startup_bench PRIVATE
  STATION_DB_TEMPLATE="${CMAKE_BINARY_DIR}/control_db.sqlite")
add_dependencies(startup_bench control_db)
