// Leak checking for third-party code we cannot mend: libx265 3.5 keeps part of
// every encoder it opens (frame filters, copied parameter strings) after
// x265_encoder_close, and the emulated phone opens one per HEVC stream. Only
// this executable carries the suppression; LeakSanitizer reads it at start.
extern "C" const char* __lsan_default_suppressions();
extern "C" const char* __lsan_default_suppressions() { return "leak:libx265.so\n"; }
