#ifndef KALDEN_TEST_SUPPORT_RECORDINGLISTENER_HH
#define KALDEN_TEST_SUPPORT_RECORDINGLISTENER_HH

#include "ConstraintEngine/base/AbstractDomain.hh"

#include <vector>

namespace KALDEN {

/// A domain listener that keeps every change it is told of, in order.
class RecordingListener : public DomainListener {
public:
  void notifyChange(const ChangeType& changeType) override { m_changes.push_back(changeType); }

  /// Every change received so far.
  const std::vector<ChangeType>& changes() const { return m_changes; }
  /// Forgets the changes received so far.
  void clear() { m_changes.clear(); }

  /// Attaches to a domain and forgets what the attachment itself reported.
  void listenTo(AbstractDomain& dom) {
    dom.setListener(getId());
    clear();
  }

private:
  std::vector<ChangeType> m_changes;
};

/// A sequence of change kinds, as changes() returns it.
using ChangeList = std::vector<DomainListener::ChangeType>;

} // namespace KALDEN

#endif
