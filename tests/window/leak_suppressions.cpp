// fontconfig keeps its font cache until the process ends and never frees it;
// that is no leak of ours, and LeakSanitizer should not fail the tests for it.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}
