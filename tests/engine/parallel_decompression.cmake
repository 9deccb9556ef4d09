# Decompressing the payload on more than one processor: the bzip2 block layout, the blocks
# decompressed side by side, and extraction that way giving what the plain decompression gives.
nv_add_test(engine_parallel_decompression_tests
            SOURCES bzip2_blocks_test.cpp payload_threads_test.cpp
            LIBRARIES engine)
