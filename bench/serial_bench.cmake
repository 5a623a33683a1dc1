# Serial link on a pseudo-terminal: delay from the last byte of a reply to
# OnReceiveData, and the process's CPU while the port is open and idle.
add_executable(serial_bench ${CMAKE_CURRENT_LIST_DIR}/serial_bench.cpp)
target_link_libraries(serial_bench PRIVATE serial benchmark::benchmark Qt6::Core)
