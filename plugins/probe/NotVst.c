/* A loadable module that is not a VST 2.x plug-in: it exports neither entry point. */
#if defined(_WIN32)
#define NOTVST_EXPORT __declspec(dllexport)
#else
#define NOTVST_EXPORT __attribute__((visibility("default")))
#endif

NOTVST_EXPORT int vorlane_not_a_plugin(void) { return 42; }
