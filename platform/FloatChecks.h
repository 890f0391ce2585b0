// Floating-point faults as errors. Division by zero, invalid operation and
// overflow must interrupt a computation like a thrown error instead of leaving
// an infinity or a NaN behind; underflow and inexact results pass silently.
//
// This is the one place that turns the processor's sticky status flags into an
// exception: code clears the flags before a computation (ClearFloatErrors) and
// tests them at checkpoints (CheckFloatErrors). The flags are per thread, so
// each thread checks its own work. No signal handlers or traps are involved.
#pragma once

#include <stdexcept>
#include <string>

// Raised at a checkpoint after a division by zero, an invalid operation or an
// overflow. `flags` holds the <cfenv> exception bits that were found raised.
class FloatingPointError : public std::runtime_error {
  public:
    FloatingPointError(const std::string &message, int flags);
    int flags;
};

// Clears the three error flags (division by zero, invalid, overflow).
void ClearFloatErrors();

// Throws FloatingPointError when any of the three error flags is raised, after
// clearing them; the message names the first fault in the order division by
// zero, invalid operation, overflow. Underflow and inexact are ignored.
void CheckFloatErrors();

// True when any of the three error flags is raised; leaves the flags as they
// are.
bool FloatErrorRaised();
