# Decompressing the payload on more than one processor: the bzip2 block layout, the verifier that
# proves blocks side by side, and the pipe between the decompressing and the writing thread.
nv_add_test(engine_parallel_decompression_tests
            SOURCES bzip2_blocks_test.cpp decompression_pipe_test.cpp payload_threads_test.cpp
            LIBRARIES engine)
