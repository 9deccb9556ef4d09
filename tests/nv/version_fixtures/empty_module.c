/* Code of the fixture DLLs: nothing but what the resource compiler adds. */
int nv_fixture_module_marker(void) { return 0; }
