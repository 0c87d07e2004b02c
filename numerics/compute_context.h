// How the core computes a call: its thread count, the effort of FFTW's
// planner and whether the arithmetic must give the same bits on every
// x86-64 machine. The host of a call chooses it (the MEX frame from the
// process's environment, the Python package from keywords) and the core
// reads it here, never from the environment.
#pragma once

#include <string>

namespace partiscope {

enum class Planner { estimate, measure, patient, exhaustive };

struct ComputeContext {
    unsigned threads = 0;  // 0: every core; at most 256 are used
    Planner planner = Planner::measure;
    // The same bits on every x86-64 machine, at some cost in speed: sines
    // and cosines on the SSE2 kernel every such processor has, FFTs planned
    // without timing and without the processor-specific vector codelets.
    bool reproducible = false;
};

// The planner of a name (estimate, measure, patient, exhaustive); any other
// name is an Error with the message given.
Planner planner_named(const std::string& name, const char* message);

// The context of the core's calls on this thread while a UseContext lives,
// and of the parts they run on other threads; else the defaults.
const ComputeContext& compute_context();

class UseContext {
public:
    explicit UseContext(const ComputeContext& context);
    ~UseContext();
    UseContext(const UseContext&) = delete;
    UseContext& operator=(const UseContext&) = delete;

private:
    const ComputeContext* previous_;
    ComputeContext context_;
};

}  // namespace partiscope
