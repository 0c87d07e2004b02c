// The gateway frame every module opens with: the once-per-load notice, the
// argument and result count checks, the type checks, safe argument readers,
// result creation within the slots the host provides, and error raising
// after all of the call's own resources are gone.
#pragma once

#include <cstddef>
#include <exception>
#include <new>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "core/sensor.h"
#include "model/particle_model.h"
#include "mex.h"
#include "numerics/compute_context.h"
#include "numerics/error.h"

#if defined(_WIN32)
#define PARTISCOPE_MEX_EXPORT extern "C" __declspec(dllexport)
#else
#define PARTISCOPE_MEX_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace partiscope::frame {

// How a module shows its licence notice on the first call after loading.
enum class LicenceShown { console, msg_box };

// The fixed identity and texts of one module.
struct ModuleInfo {
    int nrhs;                  // required argument count
    int max_nlhs;              // most results a caller may request
    const char* usage;         // raised when the argument count is wrong
    const char* too_many;      // raised when more results are requested
    const char* type_message;  // raised for a non-double or complex argument; null: no type test
    LicenceShown licence;
    bool name_value = false;   // nrhs is the least count; Name, Value pairs may follow
};

// A module taking nrhs arguments and then Name, Value pairs: each argument
// is read and checked by its own rule (no blanket type test), the licence
// shown on the console.
constexpr ModuleInfo name_value_module(int nrhs, int max_nlhs, const char* usage,
                                       const char* too_many) {
    return {nrhs, max_nlhs, usage, too_many, nullptr, LicenceShown::console, true};
}

// The whole frame of a module taking nrhs arguments and then Name, Value
// pairs: its usage text, its once-per-load notice and its entry point,
// which calls name(results, prhs, nrhs), defined after it in the module's
// unnamed namespace.
#define PARTISCOPE_NAME_VALUE_MODULE(name, nrhs, max_nlhs, usage)                              \
    namespace {                                                                                \
    int flag_info = 0;                                                                         \
    const partiscope::frame::ModuleInfo kInfo = partiscope::frame::name_value_module(          \
        nrhs, max_nlhs, usage, "too many outputs for " #name);                                 \
    void name(partiscope::frame::Results& results, const mxArray* prhs[], int count);          \
    }                                                                                          \
    PARTISCOPE_MEX_EXPORT void mexFunction(int nlhs, mxArray* plhs[], int given,               \
                                           const mxArray* prhs[]) {                            \
        partiscope::frame::run_gateway(                                                        \
            kInfo, flag_info, nlhs, plhs, given, prhs,                                         \
            [given](partiscope::frame::Results& results, const mxArray* args[]) {              \
                name(results, args, given);                                                    \
            });                                                                                \
    }

// The about text, then the licence notice, once per load of the module.
void show_notice(int& flag_info, LicenceShown how);
// Prints the licence notice as "About_us %s".
void MsgBox(const char* text);

// The first element of an argument read as a scalar (its real part). An
// empty argument, or one that does not hold doubles, is an error naming it
// ("Error: <name> must not be empty", "Error: <name> must be a double array").
double read_scalar(const mxArray* a, const char* name);

struct Pair {
    double first;
    double second;
};
// The first two elements of an argument such as a sensor size or a range
// ("Error: <name> must have two elements" when it has fewer).
Pair read_pair(const mxArray* a, const char* name);

// A sensor size (rows, columns) given as the first two elements of an
// argument. Fractional sizes are kept as they are (the grid halves and floors
// them; arrays take their truncation); a negative, non-finite or
// unallocatably large size is an error
// ("Error: <name> must hold two non-negative finite sizes within the array limits").
Pair read_sizes(const mxArray* a, const char* name);
// The same test for two sizes read from separate arguments, failing with
// the given message.
Pair checked_sizes(double rows, double cols, const std::string& message);

std::size_t element_count(const mxArray* a);

// A non-empty real double array, its values in storage order; otherwise an
// Error with the message given.
const double* real_values(const mxArray* a, const char* message);

// The first arguments of the modules that take a recorded hologram: hol (a
// non-empty real double matrix), lambda and pix; then the scan's depths and
// radii (non-empty real vectors, metres).
void read_hologram(const mxArray* const prhs[], Hologram& h);
void read_scan(const mxArray* const prhs[], ScanInput& s);

// The first arguments of ringform and precbound: x, y, z, r, pix, lambda and
// sizeH, read in that order.
void read_particle_on_sensor(const mxArray* const prhs[], ParticleOnSensor& p);

// Creates the call's results. Every result is created and filled whatever
// nlhs is, but only stored into the max(nlhs, 1) slots the host provides;
// a result no slot receives is destroyed when the call's work is done.
class Results {
public:
    Results(int nlhs, mxArray** plhs);
    ~Results();
    Results(const Results&) = delete;
    Results& operator=(const Results&) = delete;

    mxArray* create(int slot, std::size_t m, std::size_t n, mxComplexity complexity);
    // Takes a result made by the module (a struct, text, logicals): stored in
    // its slot, or destroyed with the others when no slot receives it.
    mxArray* store(int slot, mxArray* a);

private:
    static constexpr int kMaxUnslotted = 8;
    int slots_;
    mxArray** plhs_;
    mxArray* unslotted_[kMaxUnslotted] = {};
    int unslotted_count_ = 0;
};

// The Name, Value pairs after a module's fixed arguments: names are text,
// matched without regard to case against the module's list; an unknown
// name, a name without a value or a name given twice is an Error that says
// so (and, for an unknown one, lists the valid names).
class Options {
public:
    Options(const mxArray* const* args, int count, std::initializer_list<const char*> valid);
    // The value given for a name of the list, or null.
    const mxArray* find(const char* name) const;

private:
    std::vector<std::pair<std::string, const mxArray*>> given_;
};

// Readers of option values, each an Error naming the option when the value
// is not of the kind it says.
double option_number(const mxArray* a, const char* name);             // a real scalar
double option_whole(const mxArray* a, const char* name, double lo, double hi);  // whole, in [lo, hi]
std::string option_text(const mxArray* a, const char* name);          // a text
bool is_text(const mxArray* a);
// A real or logical array of the hologram's size M by N, such as weights:
// its doubles, or logicals copied into storage as 0 and 1.
const double* option_grid(const mxArray* a, const char* name, std::size_t M, std::size_t N,
                          std::vector<double>& storage);
std::string lower(std::string s);

// Small results for info structs: a real scalar, a real column and a
// logical column holding the values given.
mxArray* scalar_array(double v);
mxArray* column_array(const std::vector<double>& v);
mxArray* logical_column(const std::vector<bool>& v);

// A report's field as a MEX array: numbers as scalars, per-particle vectors
// as columns, text as a string.
inline mxArray* field_array(double v) { return scalar_array(v); }
inline mxArray* field_array(int v) { return scalar_array(v); }
inline mxArray* field_array(std::size_t v) { return scalar_array(static_cast<double>(v)); }
inline mxArray* field_array(const std::vector<double>& v) { return column_array(v); }
inline mxArray* field_array(const std::vector<bool>& v) { return logical_column(v); }
inline mxArray* field_array(const std::string& v) { return mxCreateString(v.c_str()); }

// A 1-by-1 struct of the fields a core's table lists: fields(visit) calls
// visit(name, value) for each.
template <class Fields>
mxArray* struct_of(Fields&& fields) {
    std::vector<const char*> names;
    fields([&](const char* name, const auto&) { names.push_back(name); });
    mxArray* s = mxCreateStructMatrix(1, 1, static_cast<int>(names.size()), names.data());
    fields([&](const char* name, const auto& v) { mxSetField(s, 0, name, field_array(v)); });
    return s;
}

// Steps before the module's own work: notice, counts, types, and the refusal
// of sparse storage ("Error: <name> must be a full (not sparse) double
// array; ...", the name taken from the usage text). Returns the message to
// raise, or null.
const char* open_call(const ModuleInfo& info, int& flag_info, int nlhs, int nrhs,
                      const mxArray* prhs[]);

// How the core computes the call, from the process's environment (read
// here only, at each call): PARTISCOPE_NUM_THREADS (a positive count, else
// every core), PARTISCOPE_REPRODUCIBLE (set to anything but "" or "0": the
// same bits on every x86-64 machine) and PARTISCOPE_FFTW_PLANNER (estimate,
// measure (default), patient or exhaustive; ignored under reproducible
// arithmetic; another name is an Error).
ComputeContext context_from_environment();

// Keeps the text of a failure in storage that outlives the call's scope, so
// the host error can be raised after every resource of ours is released.
const char* keep_failure(const char* text);

// Runs a module's work within the frame. `work(results, prhs)` reads the
// arguments, creates the results through `results` and computes; it reports a
// bad input by throwing partiscope::Error. The host error is raised only
// once `work`'s scope, and with it every buffer and plan it owned, is gone.
template <class Work>
void run_gateway(const ModuleInfo& info, int& flag_info, int nlhs, mxArray* plhs[], int nrhs,
                 const mxArray* prhs[], Work&& work) {
    const char* failure = open_call(info, flag_info, nlhs, nrhs, prhs);
    if (!failure) {
        try {
            const UseContext context(context_from_environment());
            Results results(nlhs, plhs);
            work(results, prhs);
        } catch (const Error& e) {
            failure = keep_failure(e.what());
        } catch (const std::bad_alloc&) {
            failure = "Error: out of memory";
        } catch (const std::exception& e) {
            // Not ours: a library's or the standard library's (a thread that
            // cannot start, a length beyond reach). The host gets its reason,
            // never an unwinding through its own frames.
            failure = keep_failure((std::string("Error: internal failure: ") + e.what()).c_str());
        } catch (...) {
            failure = "Error: internal failure of an unknown kind";
        }
    }
    if (failure) mexErrMsgTxt(failure);
}

}  // namespace partiscope::frame
