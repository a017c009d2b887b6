#include "workspace/float_faults.h"

#include "workspace/error.h"

namespace varnix {

void throwFloatFault(FloatFault fault) {
  switch (fault) {
    case FloatFault::InvalidOperation:
      throw Error(kInvalidOperationText);
    case FloatFault::DivisionByZero:
      throw Error(kDivisionByZeroText);
    case FloatFault::Overflow:
      break;
  }
  throw Error(kOverflowText);
}

}  // namespace varnix
