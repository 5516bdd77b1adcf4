// Leak reports that are not ours: fontconfig keeps its font cache and D-Bus a
// connection buffer until the process ends, and neither is ever freed. Linked
// into every program that brings up Qt's GUI, so LeakSanitizer fails only on
// leaks of this program's own.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n"
         "leak:libdbus-1.so\n";
}
