// The host operations and the loader of the test host.
#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <unordered_set>

#include "testhost.h"

struct mxArray_tag {
    testhost::Class cls = testhost::Class::double_;
    std::size_t m = 0;
    std::size_t n = 0;
    bool is_complex = false;
    bool is_sparse = false;             // re holds only the nonzero values
    std::vector<double> re;             // double class: real parts
    std::vector<double> im;             // double class, complex: imaginary parts
    std::vector<unsigned char> bytes;   // other classes: raw storage
    std::vector<std::string> field_names;  // struct: its fields, each element's values in order
    std::vector<mxArray*> fields;          // owned; null where not set
    ~mxArray_tag() {
        for (mxArray* f : fields) delete f;
    }
};

namespace testhost {
namespace {

// What the host knows of the call in progress.
struct CallState {
    std::string printed;
    std::unordered_set<mxArray*> created;  // by the module, during this call
};
CallState* current = nullptr;

struct HostError {
    std::string text;
};

std::size_t class_size(Class c) {
    switch (c) {
        case Class::double_: return sizeof(double);
        case Class::single: return 4;
        case Class::int32: return 4;
        case Class::logical: return 1;
        case Class::char_: return 2;
        case Class::struct_: return 0;
    }
    return 1;
}

Array make(Class c, std::size_t m, std::size_t n, bool is_complex) {
    auto* a = new mxArray;
    a->cls = c;
    a->m = m;
    a->n = n;
    a->is_complex = is_complex;
    if (c == Class::double_) {
        a->re.assign(m * n, 0.0);
        if (is_complex) a->im.assign(m * n, 0.0);
    } else {
        a->bytes.assign(m * n * class_size(c), 0);
    }
    return Array(a);
}

}  // namespace

void ArrayDeleter::operator()(mxArray* a) const { delete a; }

Array real(std::size_t m, std::size_t n, std::vector<double> vals) {
    Array a = make(Class::double_, m, n, false);
    if (!vals.empty()) {
        if (vals.size() != m * n) throw std::invalid_argument("testhost::real: wrong value count");
        a->re = std::move(vals);
    }
    return a;
}

Array scalar(double value) { return real(1, 1, {value}); }

Array row(std::initializer_list<double> vals) { return real(1, vals.size(), vals); }

Array complex(std::size_t m, std::size_t n, std::vector<double> re, std::vector<double> im) {
    if (re.size() != m * n || im.size() != m * n)
        throw std::invalid_argument("testhost::complex: wrong value count");
    Array a = make(Class::double_, m, n, true);
    a->re = std::move(re);
    a->im = std::move(im);
    return a;
}

Array sparse(std::size_t m, std::size_t n, std::vector<double> nonzeros) {
    if (nonzeros.size() > m * n) throw std::invalid_argument("testhost::sparse: too many values");
    Array a = make(Class::double_, 0, 0, false);
    a->m = m;
    a->n = n;
    a->is_sparse = true;
    a->re = std::move(nonzeros);
    a->re.shrink_to_fit();
    return a;
}

Array of_class(Class c, std::size_t m, std::size_t n) { return make(c, m, n, false); }

Array text(const std::string& chars) {
    Array a = make(Class::char_, 1, chars.size(), false);
    for (std::size_t k = 0; k < chars.size(); ++k) a->bytes[2 * k] = static_cast<unsigned char>(chars[k]);
    return a;
}

Array logical(std::size_t m, std::size_t n, std::vector<bool> vals) {
    if (vals.size() != m * n) throw std::invalid_argument("testhost::logical: wrong value count");
    Array a = make(Class::logical, m, n, false);
    for (std::size_t k = 0; k < vals.size(); ++k) a->bytes[k] = vals[k] ? 1 : 0;
    return a;
}

std::vector<bool> logical_values(const mxArray* a) {
    std::vector<bool> v;
    for (unsigned char b : a->bytes) v.push_back(b != 0);
    return v;
}

std::string text_of(const mxArray* a) {
    std::string t;
    for (std::size_t k = 0; k + 1 < a->bytes.size(); k += 2) t += static_cast<char>(a->bytes[k]);
    return t;
}

const mxArray* field(const mxArray* a, const std::string& name) {
    for (std::size_t k = 0; k < a->field_names.size(); ++k) {
        if (a->field_names[k] == name) return a->fields[k];
    }
    return nullptr;
}

std::vector<double> values(const mxArray* a) { return a->re; }
std::vector<double> imag_values(const mxArray* a) { return a->im; }

Module::Module(std::string path) : path_(std::move(path)) { open(); }

Module::~Module() { close(); }

// Loading, finding the entry and unloading, as the platform's hosts do.
namespace {

#ifdef _WIN32
void* load(const std::string& path) { return reinterpret_cast<void*>(LoadLibraryA(path.c_str())); }
void* entry(void* h) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(h), "mexFunction"));
}
void unload(void* h) { FreeLibrary(static_cast<HMODULE>(h)); }
bool still_loaded(const std::string& path) { return GetModuleHandleA(path.c_str()) != nullptr; }
std::string load_error() { return "error " + std::to_string(GetLastError()); }
#else
void* load(const std::string& path) { return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL); }
void* entry(void* h) { return dlsym(h, "mexFunction"); }
void unload(void* h) { dlclose(h); }
bool still_loaded(const std::string& path) {
    void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (h) dlclose(h);
    return h != nullptr;
}
std::string load_error() { return dlerror(); }
#endif

}  // namespace

void Module::open() {
    handle_ = load(path_);
    if (!handle_) throw std::runtime_error("cannot load module " + path_ + ": " + load_error());
    entry_ = reinterpret_cast<Entry>(entry(handle_));
    if (!entry_) {
        close();
        throw std::runtime_error("module " + path_ + " exports no mexFunction");
    }
}

void Module::close() {
    if (handle_) unload(handle_);
    handle_ = nullptr;
    entry_ = nullptr;
}

void Module::reload() {
    close();
    if (still_loaded(path_)) throw std::runtime_error("module " + path_ + " stayed loaded after unloading");
    open();
}

CallResult Module::call(int nlhs, std::initializer_list<const mxArray*> args) {
    return call(nlhs, std::vector<const mxArray*>(args));
}

CallResult Module::call(int nlhs, const std::vector<const mxArray*>& args) {
    // A real host hands out max(nlhs, 1) slots. Guard entries past them
    // reveal a module that stores more results than it was given room for.
    const std::size_t slots = static_cast<std::size_t>(std::max(nlhs, 1));
    constexpr std::size_t kGuard = 8;
    mxArray guard_marker;
    std::vector<mxArray*> plhs(slots + kGuard, &guard_marker);
    std::fill(plhs.begin(), plhs.begin() + static_cast<std::ptrdiff_t>(slots), nullptr);

    CallState state;
    current = &state;
    CallResult out;
    try {
        entry_(nlhs, plhs.data(), static_cast<int>(args.size()),
               const_cast<const mxArray**>(args.data()));
    } catch (const HostError& e) {
        out.failed = true;
        out.error = e.text;
    }
    current = nullptr;

    out.wrote_past_slots = std::any_of(plhs.begin() + static_cast<std::ptrdiff_t>(slots),
                                       plhs.end(), [&](mxArray* p) { return p != &guard_marker; });
    // Returned arrays pass to the caller; a failed call returns nothing. Every
    // other array the module created is reclaimed, as MATLAB does.
    if (!out.failed) {
        for (std::size_t k = 0; k < slots; ++k) {
            mxArray* p = plhs[k];
            if (p && state.created.erase(p)) out.results.emplace_back(p);
            else out.results.emplace_back(nullptr);
        }
    }
    out.arrays_reclaimed = state.created.size();
    for (mxArray* p : state.created) delete p;
    out.printed = std::move(state.printed);
    return out;
}

}  // namespace testhost

using testhost::Class;

extern "C" {

#ifdef _WIN32
// The Windows entry point with 32-bit counts, as MATLAB's libmx.dll has it.
mxArray* mxCreateDoubleMatrix_700(int m, int n, mxComplexity complexity) {
    if (m < 0 || n < 0) mexErrMsgTxt("Negative dimension");
    mxArray* a = testhost::make(Class::double_, static_cast<std::size_t>(m),
                                static_cast<std::size_t>(n), complexity == mxCOMPLEX).release();
#else
mxArray* mxCreateDoubleMatrix(mwSize m, mwSize n, mxComplexity complexity) {
    mxArray* a = testhost::make(Class::double_, m, n, complexity == mxCOMPLEX).release();
#endif
    if (testhost::current) testhost::current->created.insert(a);
    return a;
}

namespace {

mxArray* created(mxArray* a) {
    if (testhost::current) testhost::current->created.insert(a);
    return a;
}

}  // namespace

mxArray* mxCreateString(const char* chars) { return created(testhost::text(chars).release()); }

#ifdef _WIN32
// The Windows entry points with 32-bit counts, as MATLAB's libmx.dll has them.
#define PARTISCOPE_MX_COUNT int
#define PARTISCOPE_MX_700(name) name##_700
#else
#define PARTISCOPE_MX_COUNT mwSize
#define PARTISCOPE_MX_700(name) name
#endif

mxArray* PARTISCOPE_MX_700(mxCreateLogicalMatrix)(PARTISCOPE_MX_COUNT m, PARTISCOPE_MX_COUNT n) {
    return created(testhost::make(Class::logical, static_cast<std::size_t>(m), static_cast<std::size_t>(n), false).release());
}

mxArray* PARTISCOPE_MX_700(mxCreateStructMatrix)(PARTISCOPE_MX_COUNT m, PARTISCOPE_MX_COUNT n, int nfields,
                                                 const char** names) {
    if (m != 1 || n != 1) {
        std::fprintf(stderr, "testhost: only 1-by-1 structs are supported\n");
        std::abort();
    }
    mxArray* a = testhost::make(Class::struct_, m, n, false).release();
    for (int k = 0; k < nfields; ++k) {
        a->field_names.emplace_back(names[k]);
        a->fields.push_back(nullptr);
    }
    return created(a);
}

void PARTISCOPE_MX_700(mxSetField)(mxArray* a, PARTISCOPE_MX_COUNT index, const char* name,
                                   mxArray* value) {
    if (a->cls != Class::struct_ || index != 0) std::abort();
    for (std::size_t k = 0; k < a->field_names.size(); ++k) {
        if (a->field_names[k] != name) continue;
        // The struct owns the value from now on, as in a real host.
        if (testhost::current) testhost::current->created.erase(value);
        delete a->fields[k];
        a->fields[k] = value;
        return;
    }
    std::fprintf(stderr, "testhost: mxSetField of an unknown field %s\n", name);
    std::abort();
}

int mxIsChar(const mxArray* a) { return a->cls == Class::char_; }
int mxIsLogical(const mxArray* a) { return a->cls == Class::logical; }
mxLogical* mxGetLogicals(const mxArray* a) {
    return a->cls == Class::logical ? const_cast<mxLogical*>(a->bytes.data()) : nullptr;
}

int PARTISCOPE_MX_700(mxGetString)(const mxArray* a, char* buf, PARTISCOPE_MX_COUNT buflen) {
    if (a->cls != Class::char_ || buflen <= 0) return 1;
    const std::size_t chars = a->bytes.size() / 2;
    const std::size_t copied = std::min<std::size_t>(chars, static_cast<std::size_t>(buflen) - 1);
    for (std::size_t k = 0; k < copied; ++k) buf[k] = static_cast<char>(a->bytes[2 * k]);
    buf[copied] = '\0';
    return copied < chars ? 1 : 0;
}

void mxDestroyArray(mxArray* a) {
    if (!a) return;
    // Only arrays the module created in this call may be destroyed by it;
    // destroying an argument would be a use-after-free in a real host.
    if (!testhost::current || testhost::current->created.erase(a) == 0) {
        std::fprintf(stderr, "testhost: mxDestroyArray of an array the module does not own\n");
        std::abort();
    }
    delete a;
}

double* mxGetPr(const mxArray* a) {
    if (a->cls == Class::double_) return const_cast<double*>(a->re.data());
    return reinterpret_cast<double*>(const_cast<unsigned char*>(a->bytes.data()));
}

double* mxGetPi(const mxArray* a) {
    return a->is_complex ? const_cast<double*>(a->im.data()) : nullptr;
}

size_t mxGetM(const mxArray* a) { return a->m; }
size_t mxGetN(const mxArray* a) { return a->n; }
size_t mxGetNumberOfElements(const mxArray* a) { return a->m * a->n; }
int mxIsDouble(const mxArray* a) { return a->cls == Class::double_; }
int mxIsComplex(const mxArray* a) { return a->is_complex; }
int mxIsSparse(const mxArray* a) { return a->is_sparse; }

int mexPrintf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text(length > 0 ? static_cast<std::size_t>(length) : 0, '\0');
    if (length > 0) std::vsnprintf(text.data(), text.size() + 1, format, again);
    va_end(again);
    if (testhost::current) testhost::current->printed += text;
    return length;
}

void mexErrMsgTxt(const char* text) { throw testhost::HostError{text}; }

}  // extern "C"
