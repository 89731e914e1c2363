#pragma once

#include <cstdint>
#include <string_view>

// Number conversions of the stored settings, defined for any bytes.

// Like strtoul with base 0 on a 32-bit unsigned long: leading white space,
// an optional sign, 0x for hexadecimal, 0 for octal, stops at the first
// byte that does not fit; no digits gives 0. A magnitude above 4294967295
// gives 4294967295. A minus sign negates modulo 2^32, so every signed
// 32-bit value written with %d reads back as itself through an int32 cast.
std::uint32_t ParseUnsignedAuto(std::string_view text);

// Like atol on a 32-bit long: leading white space, optional sign, decimal
// digits, 0 when there are none; saturates at the 32-bit limits.
std::int32_t ParseDecimal(std::string_view text);

// The settings version of a "major.minor" text: (major << 16) | minor,
// each part read with ParseDecimal, the minor one up to a line end.
// "0.33" gives 33, "1.0" gives 65536.
std::int32_t ParseSettingsVersion(std::string_view text);
