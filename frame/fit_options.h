// The values of the fit's options that findparticles passes on to it, read
// the same way by both gateways.
#pragma once

#include <string>

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
    const std::string m = frame::lower(frame::is_text(v) ? frame::option_text(v, "Particle") : "");
    if (m == "disc") return ParticleKind::disc;
    if (m == "toolbox") return ParticleKind::toolbox;
    throw Error("Error: Particle must be 'disc' or 'toolbox'");
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
