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

} // namespace KALDEN

#endif
