// Linked into the test executables that run on a real X server. Qt's X11 platform loads the
// desktop bus library, which keeps a buffer until exit; under the sanitizers that one leak is
// not reported for these executables (the rest of the suite keeps the check).
extern "C" const char* __lsan_default_suppressions() { return "leak:libdbus-1.so\n"; }
