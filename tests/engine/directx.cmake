# The DirectX step with the stand-in setup library (tools/dsetup), which each test copies into its
# own folder as "DSetup.dll". GUI: the message-pump cases need windows.
nv_add_test(engine_directx_tests SOURCES directx_test.cpp ${NV_STRINGS_RC} LIBRARIES engine GUI)
add_dependencies(engine_directx_tests DSetup DSetup_noentries)
