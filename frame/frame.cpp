#include "frame.h"

#include "numerics/sizes.h"

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#ifndef PARTISCOPE_VERSION
#error "PARTISCOPE_VERSION must be defined by the build"
#endif

namespace partiscope::frame {
namespace {

const char kAbout[] =
    "Partiscope " PARTISCOPE_VERSION
    ": in-line digital holography of small spherical particles"
    " (hologram models, detection, simulation, precision bounds)\n";

const char kLicence[] =
    "Copyright (c) 2026, the Partiscope developers. Distributed under the BSD 3-Clause"
    " License: redistribution and use, with or without modification, are permitted"
    " provided its conditions are met. Provided \"as is\", without warranty of any kind."
    " See the LICENSE file for the full text.\n";

// One failure is raised per call; messages are short fixed texts.
char failure_text[512];

}  // namespace

void MsgBox(const char* text) { mexPrintf("About_us %s", text); }

void show_notice(int& flag_info, LicenceShown how) {
    if (flag_info != 0) return;
    flag_info = 1;
    mexPrintf("%s", kAbout);
    if (how == LicenceShown::console) {
        mexPrintf("%s", kLicence);
        return;
    }
#ifdef _WIN32
    // A box of its own, no owner window; the call goes on whichever button
    // closes it.
    MessageBoxA(nullptr, kLicence, "About the License : ", MB_OKCANCEL);
#else
    MsgBox(kLicence);
#endif
}

namespace {

// The name of argument k as the usage text lists it between its
// parentheses ("hol" for detectscan's first), or "argument <k+1>".
std::string argument_name(const char* usage, int k) {
    const char* p = std::strchr(usage, '(');
    const char* end = p ? std::strchr(p, ')') : nullptr;
    if (p && end) {
        ++p;
        for (int i = 0; i < k && p < end; ++i) {
            const char* comma = static_cast<const char*>(std::memchr(p, ',', end - p));
            p = comma ? comma + 1 : end;
        }
        const char* comma = static_cast<const char*>(std::memchr(p, ',', end - p));
        const char* stop = comma ? comma : end;
        if (p < stop) return std::string(p, stop);
    }
    return "argument " + std::to_string(k + 1);
}

}  // namespace

const char* open_call(const ModuleInfo& info, int& flag_info, int nlhs, int nrhs,
                      const mxArray* prhs[]) {
    show_notice(flag_info, info.licence);
    if (info.name_value ? nrhs < info.nrhs : nrhs != info.nrhs) return info.usage;
    if (nlhs > info.max_nlhs) return info.too_many;
    if (info.type_message) {
        for (int k = 0; k < nrhs; ++k) {
            if (!mxIsDouble(prhs[k]) || mxIsComplex(prhs[k])) return info.type_message;
        }
    }
    // A sparse matrix stores only its nonzero values: read as full storage
    // it would be read far past its end. Every module takes full arrays.
    for (int k = 0; k < nrhs; ++k) {
        if (mxIsSparse(prhs[k])) {
            const std::string name = k < info.nrhs ? argument_name(info.usage, k)
                                                   : "argument " + std::to_string(k + 1);
            return keep_failure(("Error: " + name +
                                 " must be a full (not sparse) double array (convert it with full(" +
                                 name + "))")
                                    .c_str());
        }
    }
    return nullptr;
}

ComputeContext context_from_environment() {
    ComputeContext c;
    if (const char* v = std::getenv("PARTISCOPE_NUM_THREADS")) {
        char* end = nullptr;
        const long n = std::strtol(v, &end, 10);
        if (end != v && *end == '\0' && n > 0) c.threads = n > 256 ? 256u : static_cast<unsigned>(n);
    }
    const char* r = std::getenv("PARTISCOPE_REPRODUCIBLE");
    c.reproducible = r && *r != '\0' && std::strcmp(r, "0") != 0;
    const char* p = std::getenv("PARTISCOPE_FFTW_PLANNER");
    if (!c.reproducible && p && *p != '\0')
        c.planner = planner_named(
            p, "Error: PARTISCOPE_FFTW_PLANNER must be estimate, measure, patient or exhaustive");
    return c;
}

const char* keep_failure(const char* text) {
    std::strncpy(failure_text, text, sizeof failure_text - 1);
    failure_text[sizeof failure_text - 1] = '\0';
    return failure_text;
}

std::size_t element_count(const mxArray* a) {
    return static_cast<std::size_t>(mxGetM(a)) * static_cast<std::size_t>(mxGetN(a));
}

namespace {

// Modules without a type test read their arguments' real parts as doubles;
// an array of another class holds fewer bytes than that reads.
void require_doubles(const mxArray* a, const char* name) {
    if (!mxIsDouble(a)) throw Error(std::string("Error: ") + name + " must be a double array");
}

}  // namespace

double read_scalar(const mxArray* a, const char* name) {
    require_doubles(a, name);
    if (element_count(a) < 1) throw Error(std::string("Error: ") + name + " must not be empty");
    return mxGetPr(a)[0];
}

Pair read_pair(const mxArray* a, const char* name) {
    require_doubles(a, name);
    if (element_count(a) < 2) throw Error(std::string("Error: ") + name + " must have two elements");
    const double* p = mxGetPr(a);
    return {p[0], p[1]};
}

Pair read_sizes(const mxArray* a, const char* name) {
    const Pair s = read_pair(a, name);
    return checked_sizes(s.first, s.second,
                         std::string("Error: ") + name +
                             " must hold two non-negative finite sizes within the array limits");
}

Pair checked_sizes(double rows, double cols, const std::string& message) {
    check_sizes(rows, cols, message);
    return {rows, cols};
}

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool is_text(const mxArray* a) { return mxIsChar(a) && mxGetM(a) <= 1; }

namespace {

std::string text_value(const mxArray* a) {
    const std::size_t n = element_count(a);
    std::string t(n + 1, '\0');
#ifdef _WIN32
    if (t.size() > 2147483647u) throw Error("Error: option text too long");
    mxGetString(a, &t[0], static_cast<int>(t.size()));
#else
    mxGetString(a, &t[0], t.size());
#endif
    t.resize(std::strlen(t.c_str()));
    return t;
}

}  // namespace

Options::Options(const mxArray* const* args, int count, std::initializer_list<const char*> valid) {
    for (int k = 0; k < count; k += 2) {
        if (!is_text(args[k])) throw Error("Error: option names must be text, such as 'Model'");
        const std::string name = text_value(args[k]);
        const char* known = nullptr;
        for (const char* v : valid) {
            if (lower(v) == lower(name)) known = v;
        }
        if (!known) {
            std::string list;
            for (const char* v : valid) list += (list.empty() ? "" : ", ") + std::string(v);
            throw Error("Error: unknown option '" + name + "'; the options are " + list);
        }
        if (k + 1 >= count) throw Error("Error: option '" + std::string(known) + "' needs a value");
        if (find(known)) throw Error("Error: option '" + std::string(known) + "' is given twice");
        given_.emplace_back(known, args[k + 1]);
    }
}

const mxArray* Options::find(const char* name) const {
    for (const auto& g : given_) {
        if (g.first == name) return g.second;
    }
    return nullptr;
}

double option_number(const mxArray* a, const char* name) {
    if (!mxIsDouble(a) || mxIsComplex(a) || element_count(a) != 1)
        throw Error(std::string("Error: ") + name + " must be a real number");
    return mxGetPr(a)[0];
}

double option_whole(const mxArray* a, const char* name, double lo, double hi) {
    const double v = option_number(a, name);
    if (!(v >= lo && v <= hi) || v != std::floor(v))
        throw Error(std::string("Error: ") + name + " must be a whole number from " +
                    std::to_string(static_cast<long long>(lo)) + " to " +
                    std::to_string(static_cast<long long>(hi)));
    return v;
}

std::string option_text(const mxArray* a, const char* name) {
    if (!is_text(a)) throw Error(std::string("Error: ") + name + " must be text");
    return text_value(a);
}

const double* real_values(const mxArray* a, const char* message) {
    if (!mxIsDouble(a) || mxIsComplex(a) || element_count(a) == 0) throw Error(message);
    return mxGetPr(a);
}

void read_hologram(const mxArray* const prhs[], Hologram& h) {
    h.hol = real_values(prhs[0], "Error: hol must be a non-empty real double matrix");
    h.M = mxGetM(prhs[0]);
    h.N = mxGetN(prhs[0]);
    h.lambda = read_scalar(prhs[1], "lambda");
    h.pix = read_scalar(prhs[2], "pix");
}

void read_scan(const mxArray* const prhs[], ScanInput& s) {
    read_hologram(prhs, s);
    s.depths = real_values(prhs[3], "Error: depths must be a non-empty real vector (metres)");
    s.nz = element_count(prhs[3]);
    s.radii = real_values(prhs[4], "Error: radii must be a non-empty real vector (metres)");
    s.nr = element_count(prhs[4]);
}

void read_particle_on_sensor(const mxArray* const prhs[], ParticleOnSensor& p) {
    p.x = read_scalar(prhs[0], "x");
    p.y = read_scalar(prhs[1], "y");
    p.z = read_scalar(prhs[2], "z");
    p.r = read_scalar(prhs[3], "r");
    p.pix = read_scalar(prhs[4], "pix");
    p.lambda = read_scalar(prhs[5], "lambda");
    const Pair size = read_sizes(prhs[6], "sizeH");
    p.M = size.first;
    p.N = size.second;
}

const double* option_grid(const mxArray* a, const char* name, std::size_t M, std::size_t N,
                          std::vector<double>& storage) {
    const bool logical = mxIsLogical(a);
    if ((!logical && (!mxIsDouble(a) || mxIsComplex(a))) || mxGetM(a) != M || mxGetN(a) != N)
        throw Error(std::string("Error: ") + name + " must be a real array of the size of hol");
    if (!logical) return mxGetPr(a);
    const mxLogical* l = mxGetLogicals(a);
    storage.assign(l, l + M * N);
    return storage.data();
}

// The Windows host takes 32-bit counts; these columns are far shorter.
#ifdef _WIN32
using Count = int;
#else
using Count = std::size_t;
#endif

mxArray* scalar_array(double v) {
    mxArray* a = mxCreateDoubleMatrix(1, 1, mxREAL);
    *mxGetPr(a) = v;
    return a;
}

mxArray* column_array(const std::vector<double>& v) {
    mxArray* a = mxCreateDoubleMatrix(static_cast<Count>(v.size()), 1, mxREAL);
    for (std::size_t k = 0; k < v.size(); ++k) mxGetPr(a)[k] = v[k];
    return a;
}

mxArray* logical_column(const std::vector<bool>& v) {
    mxArray* a = mxCreateLogicalMatrix(static_cast<Count>(v.size()), 1);
    for (std::size_t k = 0; k < v.size(); ++k) mxGetLogicals(a)[k] = v[k];
    return a;
}

Results::Results(int nlhs, mxArray** plhs) : slots_(nlhs > 1 ? nlhs : 1), plhs_(plhs) {}

Results::~Results() {
    for (int k = 0; k < unslotted_count_; ++k) mxDestroyArray(unslotted_[k]);
}

mxArray* Results::store(int slot, mxArray* a) {
    if (slot < slots_) {
        plhs_[slot] = a;
    } else {
        if (unslotted_count_ == kMaxUnslotted) {
            mxDestroyArray(a);
            throw Error("Error: too many results created");
        }
        unslotted_[unslotted_count_++] = a;
    }
    return a;
}

mxArray* Results::create(int slot, std::size_t m, std::size_t n, mxComplexity complexity) {
#ifdef _WIN32
    // The Windows host takes 32-bit counts.
    if (m > 2147483647u || n > 2147483647u) throw Error("Error: result too large for the host");
    mxArray* a = mxCreateDoubleMatrix(static_cast<int>(m), static_cast<int>(n), complexity);
#else
    mxArray* a = mxCreateDoubleMatrix(m, n, complexity);
#endif
    if (slot < slots_) {
        plhs_[slot] = a;
    } else {
        // Module result counts are small and fixed; more would be a coding error.
        if (unslotted_count_ == kMaxUnslotted) throw Error("Error: too many results created");
        unslotted_[unslotted_count_++] = a;
    }
    return a;
}

}  // namespace partiscope::frame
