// The cube of a distance in extended precision, as the spherical variogram
// takes it: bit for bit the value std::pow(h, 3.0L) gives, at a fraction of the
// cost where the math library is known to compute it by multiplication.
#pragma once

// std::pow(h, 3.0L) for h >= 0, bit for bit: (h * h) * h in long double when
// the math library's power passed the probe below, std::pow otherwise.
long double CubeOf(long double h);

// The probe: true when `power`(h, 3) equals (h * h) * h, both in long double,
// for every probe distance, among them distances whose correctly rounded cube
// differs from that product (so a power that rounds the cube once fails).
// CubeOf asks it once, of std::pow.
bool PowerIsProductChain(long double (*power)(long double, long double));

// Distances (metres) at which (h * h) * h in long double is not the correctly
// rounded cube: the probe's hard cases, listed for the tests.
extern const double cube_probe_hard_cases[];
extern const int cube_probe_hard_count;
