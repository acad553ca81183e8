#ifndef KALDEN_TEST_SUPPORT_LISTENERSLOTS_HH
#define KALDEN_TEST_SUPPORT_LISTENERSLOTS_HH

#include "ConstraintEngine/base/ConstrainedVariable.hh"
#include "ConstraintEngine/base/Constraint.hh"
#include "ConstraintEngine/base/ConstraintEngineListener.hh"

#include <cstddef>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

namespace KALDEN {

/**
 * Builds objects in the slots of one block, in the slots a caller picks, so
 * that their addresses say nothing of the order they were made in. The block
 * must outlive them; SlotRelease ends one.
 */
template <std::size_t COUNT, std::size_t SIZE = 512>
class Slots {
public:
  /// A T built from `args` in slot `slot` (below COUNT), which must be free.
  template <class T, class... Args>
  T* make(std::size_t slot, Args&&... args) {
    static_assert(sizeof(T) <= SIZE, "a slot holds the object");
    return ::new (static_cast<void*>(m_slots[slot])) T(std::forward<Args>(args)...);
  }

private:
  alignas(std::max_align_t) unsigned char m_slots[COUNT][SIZE];
};

/// Ends an object built in a slot; its memory stays the block's.
struct SlotRelease {
  template <class T>
  void operator()(T* object) const {
    object->~T();
  }
};

/// An object built in a slot, ended when its holder goes.
template <class T>
using InSlot = std::unique_ptr<T, SlotRelease>;

/**
 * What one engine listener heard, each notice as its kind, a change's kind
 * and its object's key counted from `base` (so that two runs of one session
 * compare), read while the object is whole.
 */
class Transcript {
public:
  /// Keys are counted from `base`, an entity made before the session's own.
  explicit Transcript(int base) : m_base(base) {}

  /// Records a notice of kind `kind` about `subject` (none for a run's start and end).
  template <class T>
  void hear(int kind, const Id<T>& subject, int change = 0) {
    const long long key = subject.isValid() ? subject->getKey() - m_base : -1;
    m_heard.push_back((static_cast<long long>(kind) << 48) | (static_cast<long long>(change) << 40) | (key & 0xffffffffff));
  }
  /// Records a notice about no object.
  void hear(int kind) { m_heard.push_back(static_cast<long long>(kind) << 48); }
  /// Every notice heard, in order.
  const std::vector<long long>& heard() const { return m_heard; }
  /// A notice as text: "changed 7 (4)", "commenced".
  static std::string describe(long long notice);

private:
  int m_base;
  std::vector<long long> m_heard;
};

/**
 * An engine listener of class L that first writes each notice it hears into
 * a transcript, then hears it as L does.
 */
template <class L>
class Transcribed : public L {
public:
  /// An L built from `args`, writing into `transcript`.
  template <class... Args>
  explicit Transcribed(Transcript& transcript, Args&&... args)
      : L(std::forward<Args>(args)...), m_transcript(transcript) {}

  void notifyPropagationCommenced() override {
    m_transcript.hear(1);
    L::notifyPropagationCommenced();
  }
  void notifyPropagationCompleted() override {
    m_transcript.hear(2);
    L::notifyPropagationCompleted();
  }
  void notifyPropagationPreempted() override {
    m_transcript.hear(3);
    L::notifyPropagationPreempted();
  }
  void notifyAdded(const Id<Constraint>& c) override {
    m_transcript.hear(4, c);
    L::notifyAdded(c);
  }
  void notifyActivated(const Id<Constraint>& c) override {
    m_transcript.hear(5, c);
    L::notifyActivated(c);
  }
  void notifyDeactivated(const Id<ConstrainedVariable>& v) override {
    m_transcript.hear(6, v);
    L::notifyDeactivated(v);
  }
  void notifyActivated(const Id<ConstrainedVariable>& v) override {
    m_transcript.hear(7, v);
    L::notifyActivated(v);
  }
  void notifyDeactivated(const Id<Constraint>& c) override {
    m_transcript.hear(8, c);
    L::notifyDeactivated(c);
  }
  void notifyRemoved(const Id<Constraint>& c) override {
    m_transcript.hear(9, c);
    L::notifyRemoved(c);
  }
  void notifyExecuted(const Id<Constraint>& c) override {
    m_transcript.hear(10, c);
    L::notifyExecuted(c);
  }
  void notifyAdded(const Id<ConstrainedVariable>& v) override {
    m_transcript.hear(11, v);
    L::notifyAdded(v);
  }
  void notifyRemoved(const Id<ConstrainedVariable>& v) override {
    m_transcript.hear(12, v);
    L::notifyRemoved(v);
  }
  void notifyChanged(const Id<ConstrainedVariable>& v, const DomainListener::ChangeType& change) override {
    m_transcript.hear(13, v, static_cast<int>(change));
    L::notifyChanged(v, change);
  }
  void notifyViolationAdded(const Id<Constraint>& c) override {
    m_transcript.hear(14, c);
    L::notifyViolationAdded(c);
  }
  void notifyViolationRemoved(const Id<Constraint>& c) override {
    m_transcript.hear(15, c);
    L::notifyViolationRemoved(c);
  }

private:
  Transcript& m_transcript;
};

inline std::string Transcript::describe(long long notice) {
  static const char* const sl_kinds[] = {"?",
                                         "commenced",
                                         "completed",
                                         "preempted",
                                         "added constraint",
                                         "activated constraint",
                                         "deactivated variable",
                                         "activated variable",
                                         "deactivated constraint",
                                         "removed constraint",
                                         "executed",
                                         "added variable",
                                         "removed variable",
                                         "changed",
                                         "violation added",
                                         "violation removed"};
  const int kind = static_cast<int>(notice >> 48);
  std::string text = kind >= 1 && kind <= 15 ? sl_kinds[kind] : sl_kinds[0];
  if (kind >= 4) {
    long long key = notice & 0xffffffffff;
    if (key >= (1LL << 39))
      key -= 1LL << 40;
    text += " " + std::to_string(key);
  }
  if (kind == 13)
    text += " (" + std::to_string((notice >> 40) & 0xff) + ")";
  return text;
}

} // namespace KALDEN

#endif
