// The toolbox model in its plainest form, kept apart from the fast one the
// modules use (particle_model.h), as the reference that one is held to.
#pragma once

#include "model/particle_model.h"

namespace partiscope {

// The plain single-threaded evaluation, node by node in the defining order
// and with the C library's sin and cos: the reference the fast forms are
// held to.
namespace reference {
void model_grid(const ModelParams& p, bool complex_model, const GridOutputs& out);
void detection_template(double* out, const ModelParams& p);
void add_particle_field(double* field_re, double* field_im, const ModelParams& p);
}  // namespace reference

}  // namespace partiscope
