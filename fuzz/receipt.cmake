# The receipt interpreter's fuzz target (clang with libFuzzer); include() from fuzz/CMakeLists.txt.
add_executable(fuzz_receipt ${CMAKE_CURRENT_LIST_DIR}/fuzz_receipt.cpp)
target_link_libraries(fuzz_receipt PRIVATE pellory_receipt pellory_vprinter)
target_include_directories(fuzz_receipt PRIVATE ${PROJECT_SOURCE_DIR}/src)
target_compile_options(fuzz_receipt PRIVATE -fsanitize=fuzzer,address,undefined)
target_link_options(fuzz_receipt PRIVATE -fsanitize=fuzzer,address,undefined)
