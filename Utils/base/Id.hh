#ifndef KALDEN_UTILS_BASE_ID_HH
#define KALDEN_UTILS_BASE_ID_HH

#include "Utils/IdTable.hh"
#include "Utils/base/Report.hh"

#include <cmath>
#include <cstdint>
#include <ostream>
#include <sstream>
#include <string>
#include <type_traits>
#include <typeinfo>

namespace KALDEN {

class Entity;

/// The error label that every handle failure carries.
class IdErr {
public:
  static const std::string& IdMgrInvalidItemPtrError() {
    static const std::string sl_lblStr(INVALID_ID_LABEL);
    return sl_lblStr;
  }
};

// Handle failures carry the handle label and the handle template's own source path. After a
// failure that was only printed the operation stops: a constructor leaves the empty handle, and
// remove() and release() leave the registry and the object alone (the address may be another's).
#define KALDEN_ID_CHECK_OR_RETURN(cond, condText, msg)                                                                 \
  do {                                                                                                                 \
    if (!(cond)) {                                                                                                     \
      ::KALDEN::raiseComposedFailure(                                                                                  \
          condText, ::KALDEN::INVALID_ID_LABEL, [&](std::ostream& sl_kaldenMsg) { sl_kaldenMsg << msg; },              \
          "Utils/base/Id", __LINE__);                                                                                  \
      return;                                                                                                          \
    }                                                                                                                  \
  } while (0)

/**
 * A non-owning typed handle: the object's address and the key the handle
 * registry gave that address when the object registered. It is valid while
 * the registry still maps the address to the same key. Copying, comparing and
 * ordering never touch the object or the registry; only remove() and
 * release() change the registry, and only release() deletes.
 */
template <class T>
class Id {
public:
  /// The empty handle.
  Id() : m_ptr(nullptr), m_key(0) {}

  /// Registers an object; it must remove() this handle before it goes.
  Id(T* ptr) : m_ptr(nullptr), m_key(0) {
    KALDEN_ID_CHECK_OR_RETURN(ptr != 0, "ptr != 0",
                              "Cannot generate an Id<" << readableTypeName() << "> for 0 pointer.");
    m_key = IdTable::insert(toAddress(ptr), typeName());
    KALDEN_ID_CHECK_OR_RETURN(m_key != 0, "m_key != 0",
                              "Cannot generate an Id<" << readableTypeName()
                                                       << "> for a pointer that has not been cleaned up.");
    m_ptr = ptr;
  }

  /// The handle of a registered object whose address travels in a double (0.0 gives the empty handle).
  explicit Id(double address) : m_ptr(nullptr), m_key(0) {
    if (address == 0.0)
      return;
    // Only an exact, non-negative, integral address in range can name an object.
    bool exact = address > 0.0 && address < 18446744073709551616.0 && address == std::floor(address);
    std::uintptr_t raw = exact ? static_cast<std::uintptr_t>(address) : 0;
    m_key = exact ? IdTable::getKey(raw) : 0;
    KALDEN_ID_CHECK_OR_RETURN(m_key != 0, "m_key != 0",
                              "Cannot instantiate an Id<" << readableTypeName()
                                                          << "> for this address. No instance present.");
    m_ptr = reinterpret_cast<T*>(raw);
  }

  Id(const Id<T>& org) = default;
  Id<T>& operator=(const Id<T>& org) = default;

  /// Converts from a handle of a related class, testing the object's dynamic type.
  template <class X>
  Id(const Id<X>& org) : m_ptr(nullptr), m_key(0) {
    copyAndCastFromId(org);
  }

  ~Id() = default;

  /// Whether `org` names a live-typed T: non-null and, unless X derives from T, dynamically a T.
  template <class X>
  static bool convertable(const Id<X>& org) {
    X* ptr = org.m_ptr;
    if (ptr == nullptr)
      return false;
    if constexpr (std::is_base_of<T, X>::value)
      return true;
    else
      return dynamic_cast<T*>(ptr) != nullptr;
  }

  /// The shared empty handle.
  static const Id<T>& noId() {
    static const Id<T>* const sl_noId = new Id<T>(); // never destroyed
    return *sl_noId;
  }

  /// Whether the handle names a live registration.
  bool isValid() const { return IdTable::holds(m_key, toAddress(m_ptr)); }
  /// Whether both words are set (live or stale).
  bool isId() const { return m_ptr != 0 && m_key != 0; }
  /// Whether both words are zero.
  bool isNoId() const { return m_ptr == 0 && m_key == 0; }

  /// The object; no test (callers test isValid() first where it matters).
  T* operator->() const { return m_ptr; }

  /// The object as a base (virtual bases adjusted, null kept null) or as a derived class (no type test).
  template <class X>
  operator X*() const {
    if constexpr (std::is_base_of<X, T>::value || std::is_same<X, T>::value)
      return m_ptr;
    else
      return static_cast<X*>(m_ptr);
  }

  bool operator==(const Id<T>& other) const { return m_ptr == other.m_ptr && m_key == other.m_key; }
  bool operator!=(const Id<T>& other) const { return !(*this == other); }
  /// Orders by registry key, which follows registration: plain sets of handles iterate in the
  /// order their objects were made, the same on every run, never in address order.
  bool operator<(const Id<T>& other) const { return m_key < other.m_key; }

  /// Unregisters; the object is kept and every other copy of the handle becomes stale.
  void remove() {
    KALDEN_ID_CHECK_OR_RETURN(isValid(), "isValid()", "Cannot remove an invalid Id<" << readableTypeName() << ">.");
    IdTable::remove(toAddress(m_ptr));
    m_key = 0;
    m_ptr = 0;
  }

  /// Unregisters and deletes the object.
  void release() {
    T* ptr = m_ptr;
    KALDEN_ID_CHECK_OR_RETURN(isValid(), "isValid()", "Cannot release an invalid Id<" << readableTypeName() << ">.");
    m_key = 0;
    IdTable::remove(toAddress(ptr));
    m_ptr = 0;
    delete ptr;
  }

  /// Writes "noId", or "id_" and the key.
  std::ostream& print(std::ostream& os) const {
    if (isNoId())
      os << "noId";
    else
      os << "id_" << m_key;
    return os;
  }

  /// The run-time type name that objects of T register under.
  static const char* typeName() { return typeid(T).name(); }
  /// T's name as written in source, for failure messages.
  static std::string readableTypeName() { return IdTable::readableTypeName(typeName()); }

private:
  template <class X>
  friend class Id;
  friend class Entity;

  // A handle to an object that is already registered under `key` (entity lookup by key).
  Id(T* ptr, unsigned long key) : m_ptr(key == 0 ? nullptr : ptr), m_key(key) {}

  static unsigned long toAddress(const T* ptr) {
    return static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(ptr));
  }

  template <class X>
  void copyAndCastFromId(const Id<X>& org) {
    if constexpr (std::is_base_of<T, X>::value)
      m_ptr = org.m_ptr;
    else
      m_ptr = org.m_ptr == nullptr ? nullptr : dynamic_cast<T*>(org.m_ptr);
    if (org.isNoId()) {
      m_key = 0;
      return;
    }
    KALDEN_ID_CHECK_OR_RETURN(Id<T>::convertable(org), "Id<T>::convertable(org)",
                              "Invalid cast from Id<" << Id<X>::readableTypeName() << "> to Id<"
                                                      << readableTypeName() << ">.");
    m_key = m_ptr == nullptr ? 0 : IdTable::getKey(toAddress(m_ptr));
    KALDEN_ID_CHECK_OR_RETURN(m_key != 0, "m_key != 0",
                              "Cannot create an Id<" << Id<X>::readableTypeName()
                                                     << "> for this address since no instance is present.");
  }

  T* m_ptr;
  unsigned long m_key;
};

/// Runs an object's `registration` with others; should it fail, removes the object's own handle `id`
/// first, so that a refused object leaves no registered address behind, then lets the failure go on.
template <class T, class Registration>
void removeOnFailure(Id<T>& id, Registration registration) {
  try {
    registration();
  } catch (...) {
    id.remove();
    throw;
  }
}

/// Prints a handle through its print().
template <class T>
std::ostream& operator<<(std::ostream& os, const Id<T>& id) {
  return id.print(os);
}

} // namespace KALDEN

#endif
