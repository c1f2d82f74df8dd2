/* Resolves every exported name from the built library at run time, as another program
   would. */
#include <dlfcn.h>
#include <stdio.h>

int main(int argc, char** argv) {
  static const char* const kNames[] = {
      "MP4FileOpen",          "MP4FileClose",        "MP4FileGetHeader",
      "MP4FileGetInfo",       "MP4FileGetCurrentPos", "MP4FileGetNextFrame",
      "MP4FileGetNextIFrame", "MP4FileSetCurrentPos", "MP4FileGetPrevIFrame",
      "MP4FileGetOneFrame"};
  if (argc != 2) return 2;
  void* lib = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (lib == NULL) {
    fprintf(stderr, "dlopen: %s\n", dlerror());
    return 1;
  }
  int missing = 0;
  for (size_t i = 0; i < sizeof kNames / sizeof kNames[0]; ++i) {
    if (dlsym(lib, kNames[i]) == NULL) {
      fprintf(stderr, "missing export: %s\n", kNames[i]);
      missing = 1;
    }
  }
  dlclose(lib);
  return missing;
}
