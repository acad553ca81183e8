#include "support/TenthsDomains.hh"

#include "ConstraintEngine/component/DataTypes.hh"
#include "ConstraintEngine/component/Domains.hh"
#include "support/ConstraintCatalogue.hh"
#include "support/Decimal.hh"
#include "support/OperationSession.hh"

#include <algorithm>
#include <cmath>
#include <list>

namespace KALDEN {

namespace {

const long long NARROW_UNITS = 10000000; // a narrow interval's offsets are ten-millionths

// The values as decimals, in order: an interval's two widened (or narrow) bounds, else every member.
std::vector<Decimal> decimals(int kind, const std::vector<int>& values, const std::vector<int>& tenths) {
  if (TenthsDomains::isNarrow(kind, tenths))
    return {Decimal(tenths[0] * NARROW_UNITS + tenths[1], 7), Decimal(tenths[0] * NARROW_UNITS + tenths[2], 7)};
  if (kind == KIND_REAL)
    return {Decimal(10 * values[0] - tenths[0], 1), Decimal(10 * values[1] + tenths[1], 1)};
  std::vector<Decimal> all;
  std::vector<int> inTenths;
  for (int v : values)
    inTenths.push_back(10 * v);
  inTenths.insert(inTenths.end(), tenths.begin(), tenths.end());
  std::sort(inTenths.begin(), inTenths.end());
  for (int t : inTenths)
    all.push_back(Decimal(t, 1));
  return all;
}

// A value as the engine holds it: as written or, with `sums`, as adding 0.1 again and again
// comes to it (0.30000000000000004 for 0.3, 0.9999999999999999 for 1, -2.0000000000000004 for -2).
double held(const Decimal& value, bool sums) {
  const double written = value.toDouble();
  if (!sums)
    return written;
  const long tenths = std::lround(std::fabs(written) * 10);
  double sum = 0.0;
  for (long k = 0; k < tenths; ++k)
    sum += 0.1;
  return written < 0 ? -sum : sum;
}

} // namespace

std::unique_ptr<AbstractDomain> TenthsDomains::make(int kind, const std::vector<int>& values,
                                                    const std::vector<int>& tenths, bool sums) {
  if (tenths.empty())
    return DrawnDomain::make(kind, values);
  if (isNarrow(kind, tenths))
    return narrowInterval(tenths);
  const std::vector<Decimal> all = decimals(kind, values, tenths);
  if (kind == KIND_REAL)
    return std::unique_ptr<AbstractDomain>(
        new IntervalDomain(held(all.front(), sums), held(all.back(), sums), FloatDT::instance()));
  std::list<double> members;
  for (const Decimal& d : all)
    members.push_back(held(d, sums));
  return std::unique_ptr<AbstractDomain>(new NumericDomain(members, FloatDT::instance()));
}

std::string TenthsDomains::text(int kind, const std::vector<int>& values, const std::vector<int>& tenths, bool sums) {
  const std::vector<Decimal> all = decimals(kind, values, tenths);
  const std::string prefix = sums ? "sums " : "";
  if (kind == KIND_REAL)
    return prefix + "[" + all.front().text() + ", " + all.back().text() + "]";
  std::string t = prefix + "{";
  for (const Decimal& d : all)
    t += (t.back() == '{' ? "" : ", ") + d.text();
  return t + "}";
}

bool TenthsDomains::isNarrow(int kind, const std::vector<int>& tenths) {
  return kind == KIND_REAL && tenths.size() == 3;
}

std::vector<int> TenthsDomains::narrowBounds(const std::vector<int>& narrow) {
  const int n = narrow[0];
  return narrow[1] <= 0 && narrow[2] >= 0 ? std::vector<int>{n, n} : std::vector<int>{n + 1, n};
}

std::unique_ptr<AbstractDomain> TenthsDomains::narrowInterval(const std::vector<int>& narrow) {
  const std::vector<Decimal> ends = decimals(KIND_REAL, {}, narrow);
  return std::unique_ptr<AbstractDomain>(
      new IntervalDomain(ends.front().toDouble(), ends.back().toDouble(), FloatDT::instance()));
}

} // namespace KALDEN
