# Display scales: the picture scale a DPI shows, scaled pixel figures, and a dialog's answer to a
# change of its DPI.
nv_add_test(ui_scaling_tests SOURCES scaling_test.cpp scaling_test.rc LIBRARIES ui GUI)
