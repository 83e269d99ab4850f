// A library that loads fine but lacks the launcher's entry point (its name differs in case).
#ifdef _WIN32
#define MODULE_EXPORT extern "C" __declspec(dllexport)
#else
#define MODULE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

MODULE_EXPORT int pellicouninstall(char*) {
  return 0;
}
