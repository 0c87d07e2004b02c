#include "numerics/compute_context.h"

#include "numerics/error.h"

namespace partiscope {

namespace {

const ComputeContext kDefault{};
thread_local const ComputeContext* current = &kDefault;

}  // namespace

Planner planner_named(const std::string& name, const char* message) {
    if (name == "estimate") return Planner::estimate;
    if (name == "measure") return Planner::measure;
    if (name == "patient") return Planner::patient;
    if (name == "exhaustive") return Planner::exhaustive;
    throw Error(message);
}

const ComputeContext& compute_context() { return *current; }

UseContext::UseContext(const ComputeContext& context) : previous_(current), context_(context) {
    current = &context_;
}

UseContext::~UseContext() { current = previous_; }

}  // namespace partiscope
