// Our own MEX host for tests: array construction, and a loader that opens a
// built module the way MATLAB or Octave does (dlopen, call mexFunction,
// dlclose), giving it exactly max(nlhs, 1) result slots and capturing what it
// prints and the error it raises.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "mex.h"

namespace testhost {

// Classes a user can pass from MATLAB; the modules accept doubles only.
enum class Class { double_, single, int32, logical, char_, struct_ };

struct ArrayDeleter {
    void operator()(mxArray* a) const;
};
using Array = std::unique_ptr<mxArray, ArrayDeleter>;

// A real double m-by-n array holding values column-major (zeros if empty).
Array real(std::size_t m, std::size_t n, std::vector<double> values = {});
Array scalar(double value);
Array row(std::initializer_list<double> values);
// A complex double array with the given real and imaginary parts.
Array complex(std::size_t m, std::size_t n, std::vector<double> re, std::vector<double> im);
// A real sparse double m-by-n array with the given nonzero values: like a
// real host, its storage holds only those values, not m*n of them.
Array sparse(std::size_t m, std::size_t n, std::vector<double> nonzeros);
// A 1-by-length text array (two bytes a character, as the hosts keep text).
Array text(const std::string& chars);
// A logical m-by-n array holding values column-major.
Array logical(std::size_t m, std::size_t n, std::vector<bool> values);
// An m-by-n array of another class, zero-filled.
Array of_class(Class c, std::size_t m, std::size_t n);

// Values of a double array, column-major.
std::vector<double> values(const mxArray* a);
std::vector<double> imag_values(const mxArray* a);
std::vector<bool> logical_values(const mxArray* a);
std::string text_of(const mxArray* a);
// The value of a 1-by-1 struct's field, null when it has none.
const mxArray* field(const mxArray* a, const std::string& name);

struct CallResult {
    std::vector<Array> results;  // the filled slots, in slot order (null where left empty)
    std::string printed;         // everything mexPrintf printed
    bool failed = false;         // mexErrMsgTxt was called
    std::string error;           // its text, verbatim
    bool wrote_past_slots = false;
    std::size_t arrays_reclaimed = 0;  // created by the module, not returned
};

class Module {
public:
    explicit Module(std::string path);
    ~Module();
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    CallResult call(int nlhs, std::initializer_list<const mxArray*> args);
    CallResult call(int nlhs, const std::vector<const mxArray*>& args);

    // Unload and load again, like `clear name` followed by a call. Throws if
    // the object stays mapped after the unload (its static state would
    // survive, unlike in a real host).
    void reload();

private:
    void open();
    void close();

    std::string path_;
    void* handle_ = nullptr;
    using Entry = void (*)(int, mxArray**, int, const mxArray**);
    Entry entry_ = nullptr;
};

}  // namespace testhost
