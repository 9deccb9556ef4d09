# The dialog layer: data exchange and validation, modal dialogs and their pre-translation,
# handler exceptions, the application object and its message-box binding.
nv_add_test(ui_dialog_tests SOURCES dialog_test.cpp dialog_test.rc LIBRARIES ui GUI)
