// runtime/vm/switches.cpp
// The process-wide switches.

#include "runtime/vm/switches.h"

namespace qob {

RuntimeSwitches Switches;

}  // namespace qob
