// Constants that many families share, each written once. The angle constants are the doubles the
// families always used; a pi written with fewer digits is a different double and stays where it is.
#pragma once

constexpr double kPi = 3.14159265358979323846;
constexpr double kTwoPi = 6.283185307179586;
constexpr double kHalfPi = 1.5707963267948966;
constexpr double kDegToRad = 0.017453292519943295;
constexpr double kRadToDeg = 57.29577951308232;

// The written digits are the roundings of these operations: neither form may drift from the other.
static_assert(kTwoPi == 2 * kPi && kHalfPi == kPi / 2);
static_assert(kDegToRad == kPi / 180.0 && kRadToDeg == 180.0 / kPi);
