#include "Utils/Globals.hh"

#include <cmath>
#include <cstdio>
#include <limits>

namespace KALDEN {

double& g_epsilon() {
  static double sl_epsilon = 1e-5;
  return sl_epsilon;
}

int& g_infiniteTime() {
  static int sl_infiniteTime = 2147483647;
  return sl_infiniteTime;
}

int& g_maxInt() {
  static int sl_maxInt = 2147483647;
  return sl_maxInt;
}

bool& g_alwaysFails() {
  static bool sl_alwaysFails = false;
  return sl_alwaysFails;
}

std::string toString(double value) {
  char buf[64];
  // Integral values below 2^53 are exact: print them in full, never as 2.14748e+09.
  if (std::isfinite(value) && std::fabs(value) < 9007199254740992.0 && value == std::floor(value)) {
    if (value == 0.0)
      value = 0.0; // no "-0"
    std::snprintf(buf, sizeof(buf), "%.0f", value);
  } else {
    std::snprintf(buf, sizeof(buf), "%.15g", value);
  }
  return buf;
}

} // namespace KALDEN
