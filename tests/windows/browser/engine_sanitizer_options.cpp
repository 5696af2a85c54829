// Linked into the test executables that run the browser engine. The engine's own code frees
// with a mismatched delete and keeps allocations until exit; under the sanitizers those two
// checks are off for these executables only (the rest of the suite keeps them).
extern "C" const char* __asan_default_options() { return "new_delete_type_mismatch=0:detect_leaks=0"; }
