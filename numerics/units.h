// The physical range of the setup's lengths. Every length the measuring
// functions take is in metres; a wavelength or a pixel pitch given in
// nanometres or micrometres by mistake is off by 10^6 to 10^9 and would be
// "measured" into nonsense (Fresnel numbers of thousands, standard errors
// that are not finite) instead of refused.
#pragma once

#include <cmath>
#include <cstdio>
#include <string>

#include "numerics/error.h"

namespace partiscope {

// Wavelengths in the medium from the far ultraviolet to the mid infrared;
// pixel pitches in the object's plane from a high-magnification microscope
// to a coarse camera.
constexpr double kMinWavelength = 1e-8, kMaxWavelength = 1e-5;
constexpr double kMinPixelPitch = 1e-8, kMaxPixelPitch = 1e-3;

inline std::string shortest_text(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", v);
    return text;
}

// Refuses a wavelength `lambda` or pixel pitch `pix` outside those ranges,
// naming the argument, the unit and the value given.
inline void check_setup_lengths(double lambda, double pix) {
    if (!(lambda >= kMinWavelength && lambda <= kMaxWavelength))
        throw Error("Error: lambda must be a wavelength in metres (1e-8 to 1e-5), got " +
                    shortest_text(lambda));
    if (!(pix >= kMinPixelPitch && pix <= kMaxPixelPitch))
        throw Error("Error: pix must be a pixel pitch in metres (1e-8 to 1e-3), got " +
                    shortest_text(pix));
}

}  // namespace partiscope
