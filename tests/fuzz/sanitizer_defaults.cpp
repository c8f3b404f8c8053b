// The sanitizer's run-time defaults for the fuzz targets; ASAN_OPTIONS still overrides them.
// An input frees within a millisecond what it allocated. A 32 MB quarantine keeps the frees of
// the last hundreds of inputs poisoned; the default 256 MB would have a run of thousands of
// inputs take every allocation from pages never touched before, a page fault each.
extern "C" const char *__asan_default_options() { return "quarantine_size_mb=32"; }
