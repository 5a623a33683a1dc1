# Strip-chart repaint against two established Qt plotting libraries, in one run.
# The peers are linked here only; the station never uses them.
find_package(Qt6 QUIET COMPONENTS PrintSupport Charts)
find_package(QCustomPlotQt6 QUIET CONFIG)
if(TARGET QCustomPlotQt6::QCustomPlotQt6 AND TARGET Qt6::Charts)
  add_executable(plot_bench ${CMAKE_CURRENT_LIST_DIR}/plot_bench.cpp)
  target_link_libraries(plot_bench PRIVATE widgets benchmark::benchmark QCustomPlotQt6::QCustomPlotQt6 Qt6::Charts)
  # qcustomplot.h is written with Qt's keyword macros (signals, foreach).
  target_compile_options(plot_bench PRIVATE -UQT_NO_KEYWORDS)
else()
  message(STATUS "plot_bench not built: needs libqcustomplot-dev (Qt 6 build) and qt6-charts-dev")
endif()
