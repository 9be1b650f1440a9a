// The RuntimeError of a list call that failed: the model's message as its
// text and args, as for any model failure, and a PEP 678 note naming the
// first separation that failed, "raised for l[12] = 1e+300 (the first
// element of l that failed)", so that a caller with a long list can find it.
//
// From Python 3.11 the note is added by BaseException.add_note; before, the
// __notes__ list is set by hand, which traceback and pytest read the same way.
// Should the note itself fail to attach (short of memory), the exception is
// raised without it.
#pragma once

#include "boundary/pyerr.hpp"
#include "models/list_outcome.hpp"

namespace lumevaro::boundary {

PyErr list_failure_error(const SeparationFailure& failure);

}  // namespace lumevaro::boundary
