# The sector transfers through the program's worker against dd (no Google
# Benchmark needed):
#   cmake --build BUILD --target kt62_transfer_bench && BUILD/bin/kt62_transfer_bench
add_executable(kt62_transfer_bench ${CMAKE_CURRENT_LIST_DIR}/transfer_bench.cpp)
target_include_directories(kt62_transfer_bench PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(kt62_transfer_bench PRIVATE kt6200_script_lib kt6200_dialog apiKT6200)
