# The sector transfers through the program's worker against dd (no Google
# Benchmark needed):
#   cmake --build BUILD --target kt62_transfer_bench && BUILD/bin/kt62_transfer_bench
add_executable(kt62_transfer_bench ${CMAKE_CURRENT_LIST_DIR}/transfer_bench.cpp)
target_include_directories(kt62_transfer_bench PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(kt62_transfer_bench PRIVATE kt6200_script_lib kt6200_dialog apiKT6200)

# The same transfers on the Linux host backend over the fake kernel against
# the emulator backend, in one run:
#   cmake --build BUILD --target kt62_linux_transfer_bench && BUILD/bin/kt62_linux_transfer_bench
# The fake kernel's shim is linked in ahead of libc, so it answers the
# library's open, ioctl and close as it does when preloaded.
if(TARGET kt62_fakekernel_shim)
  add_executable(kt62_linux_transfer_bench ${CMAKE_CURRENT_LIST_DIR}/linux_transfer_bench.cpp)
  target_include_directories(kt62_linux_transfer_bench PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(kt62_linux_transfer_bench PRIVATE
    -Wl,--no-as-needed kt62_fakekernel_shim kt6200_script_lib kt6200_dialog apiKT6200)
endif()
