#ifndef KALDEN_TEST_SUPPORT_DECIMAL_HH
#define KALDEN_TEST_SUPPORT_DECIMAL_HH

#include <cstddef>
#include <string>

namespace KALDEN {

/**
 * A decimal number held exactly (digits over a power of ten), for judging the
 * engine against the values a user writes, which binary floating point holds
 * only approximately. Sums and products are exact. Comparisons are exact,
 * unless one side is marked tolerant: then they read as the engine's reals do,
 * equal when closer than TOLERANCE and ordered only when at least that apart.
 * Wide enough for products of three values on a 1e-9 grid within a few units.
 */
class Decimal {
public:
  __extension__ typedef __int128 Wide;

  /// The engine's real tolerance, 1e-5.
  static Decimal tolerance() { return Decimal(1, 5); }

  /// An integer; implicit, so that meanings may compare with 0 and 1.
  Decimal(long long units = 0) : m_digits(units) {}
  /// digits / 10^places.
  Decimal(long long digits, int places) : m_digits(digits), m_places(places) { normalise(); }

  /// The same number, compared within the tolerance from now on (and so is whatever it computes).
  Decimal tolerant() const {
    Decimal d = *this;
    d.m_tolerant = true;
    return d;
  }
  /// Whether it is compared within the tolerance.
  bool isTolerant() const { return m_tolerant; }
  /// The double nearest the number, as a user's decimal text would read (exact for the grids drawn).
  double toDouble() const { return static_cast<double>(m_digits) / pow10(m_places); }
  /// The decimal text, as a user writes it.
  std::string text() const;

  friend Decimal operator+(const Decimal& a, const Decimal& b) {
    const int places = a.m_places > b.m_places ? a.m_places : b.m_places;
    return make(a.at(places) + b.at(places), places, a.m_tolerant || b.m_tolerant);
  }
  friend Decimal operator-(const Decimal& a) { return make(-a.m_digits, a.m_places, a.m_tolerant); }
  friend Decimal operator-(const Decimal& a, const Decimal& b) { return a + (-b); }
  friend Decimal operator*(const Decimal& a, const Decimal& b) {
    return make(a.m_digits * b.m_digits, a.m_places + b.m_places, a.m_tolerant || b.m_tolerant);
  }
  friend bool operator==(const Decimal& a, const Decimal& b) {
    const Decimal d = a - b;
    return d.m_tolerant ? d.magnitudeBelowTolerance() : d.m_digits == 0;
  }
  friend bool operator!=(const Decimal& a, const Decimal& b) { return !(a == b); }
  friend bool operator<=(const Decimal& a, const Decimal& b) {
    const Decimal d = a - b;
    return d.m_tolerant ? d.m_digits <= 0 || d.magnitudeBelowTolerance() : d.m_digits <= 0;
  }
  friend bool operator<(const Decimal& a, const Decimal& b) { return !(b <= a); }
  friend bool operator>=(const Decimal& a, const Decimal& b) { return b <= a; }
  friend bool operator>(const Decimal& a, const Decimal& b) { return b < a; }

private:
  static Decimal make(Wide digits, int places, bool tolerant) {
    Decimal d;
    d.m_digits = digits;
    d.m_places = places;
    d.m_tolerant = tolerant;
    d.normalise();
    return d;
  }
  static double pow10(int places) {
    double p = 1;
    for (int i = 0; i < places; ++i)
      p *= 10;
    return p;
  }
  // The digits over 10^places, places >= m_places.
  Wide at(int places) const {
    Wide digits = m_digits;
    for (int i = m_places; i < places; ++i)
      digits *= 10;
    return digits;
  }
  bool magnitudeBelowTolerance() const {
    const Decimal t = tolerance();
    const int places = m_places > t.m_places ? m_places : t.m_places;
    const Wide digits = at(places);
    return (digits < 0 ? -digits : digits) < t.at(places);
  }
  // Drops trailing zeros, so that the digits of long products stay small.
  void normalise() {
    while (m_places > 0 && m_digits % 10 == 0) {
      m_digits /= 10;
      --m_places;
    }
  }

  Wide m_digits = 0;
  int m_places = 0;
  bool m_tolerant = false;
};

inline std::string Decimal::text() const {
  Wide magnitude = m_digits < 0 ? -m_digits : m_digits;
  std::string digits;
  do {
    digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(magnitude % 10)));
    magnitude /= 10;
  } while (magnitude != 0);
  if (m_places > 0) {
    if (digits.size() <= static_cast<std::size_t>(m_places))
      digits.insert(0, static_cast<std::size_t>(m_places) + 1 - digits.size(), '0');
    digits.insert(digits.size() - static_cast<std::size_t>(m_places), ".");
  }
  return (m_digits < 0 ? "-" : "") + digits;
}

} // namespace KALDEN

#endif
