/* The old entry point name "main", exported by the probe variants that need it. Written in C:
 * a C++ "main" cannot have this signature. */
#if defined(_WIN32)
#define PROBE_EXPORT __declspec(dllexport)
#else
#define PROBE_EXPORT __attribute__((visibility("default")))
#endif

struct AEffect;
extern struct AEffect* vl_probe_entry(void* host, int viaMain);

PROBE_EXPORT struct AEffect* main(void* host) { return vl_probe_entry(host, 1); }
