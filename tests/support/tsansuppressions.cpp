// Reports that ThreadSanitizer cannot judge: FluidSynth reads SoundFont
// samples with OpenMP, and Debian's libgomp is not built for the sanitizer,
// so its own thread hand-offs look like races. Only sanitizer builds call this.
extern "C" const char* __tsan_default_suppressions()
{
    return "race:libgomp.so.1\n";
}
