// fontconfig keeps a cache for the life of the process, which the leak
// checker would report at exit of every program that draws text.
extern "C" const char* __lsan_default_suppressions();
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig\n";
}
