# Included by the top-level CMakeLists.txt before the simulator and the
# product are defined, so that both are built with libFuzzer's coverage
# instrumentation and with AddressSanitizer and UBSan; the fuzz targets in
# this directory then link libFuzzer's main.
if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "JQ_FUZZ needs clang: configure with CC=clang CXX=clang++")
endif()
add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all
                    -fno-omit-frame-pointer -g)
add_link_options(-fsanitize=address,undefined)
