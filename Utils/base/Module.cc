#include "Utils/base/Module.hh"

namespace KALDEN {

Module::Module(const std::string& name) : m_id(this), m_name(name) {}

Module::~Module() {
  NoThrowScope guard;
  m_id.remove();
}

} // namespace KALDEN
