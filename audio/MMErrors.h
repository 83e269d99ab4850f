#pragma once
// The error classes of the sound component families. Messages are the library's own texts.
#include "Exception.h"

// Declares a class: its name takes no parentheses.
// NOLINTBEGIN(bugprone-macro-parentheses)
#define QL_MM_ERROR(Name)         \
  class Name : public Exception { \
   public:                        \
    using Exception::Exception;   \
  };
// NOLINTEND(bugprone-macro-parentheses)

QL_MM_ERROR(EMMDSPError)
QL_MM_ERROR(EMMWaveError)
QL_MM_ERROR(EMMTriggerError)
QL_MM_ERROR(EMMBufferError)
QL_MM_ERROR(EMMEqualizerError)
QL_MM_ERROR(EMMPitchError)
QL_MM_ERROR(EMMVolumeError)
QL_MM_ERROR(EMMMetronomeError)
QL_MM_ERROR(EMMConverterError)
QL_MM_ERROR(EMMACMError)
QL_MM_ERROR(EOutOfResources)
QL_MM_ERROR(EStreamError)

#undef QL_MM_ERROR

// Line break inside the library's messages: line feed, then carriage return.
inline constexpr const char* kMMLineBreak = "\n\r";
