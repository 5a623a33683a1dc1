# Parameter grid: filling every value cell and scrolling with a repaint.
add_executable(param_grid_bench ${CMAKE_CURRENT_LIST_DIR}/param_grid_bench.cpp)
target_link_libraries(param_grid_bench PRIVATE station benchmark::benchmark)
