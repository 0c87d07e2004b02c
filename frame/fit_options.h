// The values of the fit's options that findparticles passes on to it, read
// the same way by both gateways.
#pragma once

#include <string>
#include <vector>

#include "frame/frame.h"
#include "core/fit/ring_fit.h"

namespace partiscope {

inline FitModel model_option(const mxArray* v) {
    const std::string m = frame::lower(frame::is_text(v) ? frame::option_text(v, "Model") : "");
    if (m == "intensity") return FitModel::intensity;
    if (m == "linear") return FitModel::linear;
    throw Error("Error: Model must be 'intensity' or 'linear'");
}

inline ParticleKind particle_option(const mxArray* v) {
    return particle_named(frame::lower(frame::is_text(v) ? frame::option_text(v, "Particle") : ""));
}

// A sphere's optics: 'MediumIndex', 'Index' (one start index, or one per
// particle into starts) and 'Polarization'.
inline void optics_options(const frame::Options& opts, std::size_t n, double& medium_index,
                           double& index, const double*& index_start, double& polarization,
                           std::vector<double>& starts) {
    if (const mxArray* v = opts.find("MediumIndex"))
        medium_index = frame::option_number(v, "MediumIndex");
    if (const mxArray* v = opts.find("Polarization"))
        polarization = frame::option_number(v, "Polarization");
    if (const mxArray* v = opts.find("Index")) {
        const char* kIndex = "Error: Index must be a positive number, or one per particle";
        const double* d = frame::real_values(v, kIndex);
        const std::size_t count = frame::element_count(v);
        if (count == 1) {
            index = d[0];
        } else if (count == n && n > 0) {
            starts.assign(d, d + n);
            index_start = starts.data();
        } else {
            throw Error(kIndex);
        }
    }
}

// 'free', or the contrast every particle has.
inline void contrast_option(const mxArray* v, bool& free, double& contrast) {
    if (frame::is_text(v)) {
        if (frame::lower(frame::option_text(v, "Contrast")) != "free")
            throw Error("Error: Contrast must be a finite non-zero number or 'free'");
        free = true;
    } else {
        free = false;
        contrast = frame::option_number(v, "Contrast");
    }
}

}  // namespace partiscope
