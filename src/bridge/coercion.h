// Reading payload and script values of any JSON type with a default.
//
// These are the only accepted forms; anything else (absent, null, an array, an
// object, a text that does not read) yields the default. A nullptr argument is
// an absent value; use member(object, "key") to look one up.
#pragma once

#include "platform/json.h"

#include <cstdint>
#include <string>

namespace tessivo {

// Text as is; a number as its decimal text (3 → "3", 2.5 → "2.5"); a boolean
// as "1" or "0".
std::string stringValue(const Json* value, const std::string& defaultValue);

// A boolean; a number (zero is false); a text lower-cased without trimming:
// "true" "1" "yes" "on" / "false" "0" "no" "off".
bool boolValue(const Json* value, bool defaultValue);

// An integer; a real truncated toward zero (saturated at the 64-bit range); a
// boolean as 1 or 0; a text of an optional sign and ASCII digits only, that fits
// a signed 64-bit integer.
std::int64_t intValue(const Json* value, std::int64_t defaultValue);

// A number (booleans read as 1 and 0); a text read in the C locale that must be
// consumed whole, without leading white space (exponents, "inf" and "nan" as
// the C library reads them).
double doubleValue(const Json* value, double defaultValue);

// Convenience overloads for a member of an object.
inline std::string stringValue(const Json& object, std::string_view key, const std::string& d) {
    return stringValue(member(object, key), d);
}
inline bool boolValue(const Json& object, std::string_view key, bool d) {
    return boolValue(member(object, key), d);
}
inline std::int64_t intValue(const Json& object, std::string_view key, std::int64_t d) {
    return intValue(member(object, key), d);
}
inline double doubleValue(const Json& object, std::string_view key, double d) {
    return doubleValue(member(object, key), d);
}

// doubleValue(), except that a value that is not finite (a text such as "nan"
// or "inf", or one too large for a double) counts as absent. Every number
// of a caption block or a request goes through it: NaN breaks ordering,
// clamping and integer conversion, and a JSON writer refuses it.
double finiteDoubleValue(const Json* value, double defaultValue);
inline double finiteDoubleValue(const Json& object, std::string_view key, double d) {
    return finiteDoubleValue(member(object, key), d);
}

// The text form of a number as the platform number object gives it: integral
// values without a fractional part, others in the shortest form that reads back.
std::string numberText(double value);

}  // namespace tessivo
