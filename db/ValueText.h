// The text of a reading's value as the Value column of OPCvalues keeps it.
#pragma once

#include <string>

#include "opc/ClientState.h"

namespace tagwell {

// Shortest decimal text that reads back as the same number ("0.1" for 0.1f,
// not "0.100000001"); "nan", "inf", "-inf" for the special values.
std::string ShortestText(float value);
std::string ShortestText(double value);

// The type word and the value text of reading by its valueType: boolean and
// integer as 16-bit numbers, long as 32-bit, float and double as their
// shortest text (the float of an analog item's 64-bit value as that value),
// string as UTF-8 up to its first zero character; any other valueType as
// the double with the double type word. A missing type word is "".
const char* ReadingTypeWord(const CurrentReading& reading);
std::string ReadingValueText(const CurrentReading& reading);

}  // namespace tagwell
