// Preloaded into the benchmark's processes by the hostile tests: localtime()
// answers the instant in QUENDA_FIXED_LOCAL_TIME ("YYYY-MM-DDTHH:MM:SS")
// whatever it is asked, so that two runs can start in the same second. Without
// the variable it is the C library's own localtime().
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

extern "C" std::tm* localtime(const std::time_t* when) {
  static std::tm fixed{};
  const char* setting = std::getenv("QUENDA_FIXED_LOCAL_TIME");
  if (setting != nullptr &&
      std::sscanf(setting, "%d-%d-%dT%d:%d:%d", &fixed.tm_year, &fixed.tm_mon, &fixed.tm_mday,
                  &fixed.tm_hour, &fixed.tm_min, &fixed.tm_sec) == 6) {
    fixed.tm_year -= 1900;
    fixed.tm_mon -= 1;
    fixed.tm_isdst = -1;
    return &fixed;
  }
  using LocalTime = std::tm* (*)(const std::time_t*);
  static const auto next = reinterpret_cast<LocalTime>(::dlsym(RTLD_NEXT, "localtime"));
  return next != nullptr ? next(when) : nullptr;
}
