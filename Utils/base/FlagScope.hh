#ifndef KALDEN_UTILS_BASE_FLAGSCOPE_HH
#define KALDEN_UTILS_BASE_FLAGSCOPE_HH

namespace KALDEN {

/**
 * Sets a flag for the life of the object and clears it when the object goes,
 * also when a failed check unwinds through the scope: a re-entry guard must
 * never stay set after the work it guards has ended.
 */
class FlagScope {
public:
  /// Sets the flag.
  explicit FlagScope(bool& flag) : m_flag(flag) { m_flag = true; }
  /// Clears the flag.
  ~FlagScope() { m_flag = false; }
  FlagScope(const FlagScope&) = delete;
  FlagScope& operator=(const FlagScope&) = delete;

private:
  bool& m_flag;
};

/**
 * Gives a flag a value for the life of the object and its former value back when the object
 * goes: for work that may nest, each level restoring what the outer one set.
 */
class FlagAs {
public:
  /// Sets the flag to `value`.
  FlagAs(bool& flag, bool value) : m_flag(flag), m_was(flag) { m_flag = value; }
  /// Gives the flag back its former value.
  ~FlagAs() { m_flag = m_was; }
  FlagAs(const FlagAs&) = delete;
  FlagAs& operator=(const FlagAs&) = delete;

private:
  bool& m_flag;
  const bool m_was;
};

} // namespace KALDEN

#endif
