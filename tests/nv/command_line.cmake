# The command line taken apart into arguments, and the unattended switch.
nv_add_test(nv_command_line_tests SOURCES command_line_test.cpp LIBRARIES nv)
