#include "Networks.hh"

#include "ConstraintEngine/component/Constraints.hh"

namespace KALDEN {
namespace bench {

namespace {

const LabelStr& addEqualName() {
  static const LabelStr sl_name("AddEqual");
  return sl_name;
}

} // namespace

StnChain::StnChain(int length, bool atFixpoint) : m_length(length), m_atFixpoint(atFixpoint) {
  points.reserve(m_length + 1);
  durations.reserve(m_length);
  constraints.reserve(m_length);
}

void StnChain::buildVariables() {
  static const LabelStr sl_point("t");
  static const LabelStr sl_duration("d");
  for (int i = 0; i <= m_length; ++i)
    points.push_back(m_atFixpoint ? engine.intVar(sl_point, i, HORIZON - (m_length - i))
                                  : engine.intVar(sl_point, 0, HORIZON));
  for (int i = 0; i < m_length; ++i)
    durations.push_back(engine.intVar(sl_duration, 1, 10));
}

void StnChain::buildConstraints() {
  for (int i = 0; i < m_length; ++i)
    constraints.push_back(
        engine.constrain<AddEqualConstraint>(addEqualName(), makeScope(points[i], durations[i], points[i + 1])));
}

void StnChain::rebuildConstraint(int i) {
  constraints[i] =
      engine.constrain<AddEqualConstraint>(addEqualName(), makeScope(points[i], durations[i], points[i + 1]));
}

LeqChain::LeqChain(int length) {
  static const LabelStr sl_var("x");
  static const LabelStr sl_leq("LessThanEqual");
  vars.reserve(length + 1);
  constraints.reserve(length);
  for (int i = 0; i <= length; ++i)
    vars.push_back(engine.intVar(sl_var, 0, HORIZON));
  for (int i = 0; i < length; ++i)
    constraints.push_back(engine.constrain<LessThanEqualConstraint>(sl_leq, makeScope(vars[i], vars[i + 1])));
}

void buildBaselineStnChain(BaselineNetwork& net, int length) {
  for (int i = 0; i <= length; ++i)
    net.addVariable(0, HORIZON);
  for (int i = 0; i < length; ++i)
    net.addAddEqual(i, net.addVariable(1, 10), i + 1);
}

void buildBaselineStnChainAtFixpoint(BaselineNetwork& net, int length) {
  for (int i = 0; i <= length; ++i)
    net.addVariable(i, HORIZON - (length - i));
  for (int i = 0; i < length; ++i)
    net.addAddEqual(i, net.addVariable(1, 10), i + 1);
}

void buildBaselineLeqChain(BaselineNetwork& net, int length) {
  for (int i = 0; i <= length; ++i)
    net.addVariable(0, HORIZON);
  for (int i = 0; i < length; ++i)
    net.addLessEqual(i, i + 1);
}

double baselineSecondsPerChange(BaselineNetwork& net) {
  net.propagate();
  Stopwatch watch;
  long changes = 0;
  watch.start();
  for (;;) {
    for (int k = 0; k < 16; ++k, ++changes) {
      net.restrict(0, net.lowerBound(0) + 1, net.upperBound(0));
      net.propagate();
    }
    watch.stop();
    if (watch.seconds() >= 0.05)
      break;
    watch.start();
  }
  return watch.seconds() / static_cast<double>(changes);
}

} // namespace bench
} // namespace KALDEN
