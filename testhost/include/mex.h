/* The host interface as our test host offers it: the same operations, with
 * the same meaning, as the MATLAB and GNU Octave MEX APIs (separate real and
 * imaginary parts). Gateways compile against this header unchanged. */
#ifndef PARTISCOPE_TESTHOST_MEX_H
#define PARTISCOPE_TESTHOST_MEX_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct mxArray_tag mxArray;
typedef size_t mwSize;
typedef size_t mwIndex;
typedef enum { mxREAL = 0, mxCOMPLEX = 1 } mxComplexity;
typedef unsigned char mxLogical;

#ifdef _WIN32
/* MATLAB's Windows libraries bind this to mxCreateDoubleMatrix_700, which
 * takes 32-bit counts. */
mxArray* mxCreateDoubleMatrix(int m, int n, mxComplexity complexity);
#else
mxArray* mxCreateDoubleMatrix(mwSize m, mwSize n, mxComplexity complexity);
#endif
void mxDestroyArray(mxArray* a);
double* mxGetPr(const mxArray* a);
double* mxGetPi(const mxArray* a);
size_t mxGetM(const mxArray* a);
size_t mxGetN(const mxArray* a);
size_t mxGetNumberOfElements(const mxArray* a);
int mxIsDouble(const mxArray* a);
int mxIsComplex(const mxArray* a);
int mxIsSparse(const mxArray* a);
int mxIsChar(const mxArray* a);
int mxIsLogical(const mxArray* a);
mxLogical* mxGetLogicals(const mxArray* a);
mxArray* mxCreateString(const char* text);
#ifdef _WIN32
/* The Windows libraries bind these to their _700 entry points, which take
 * 32-bit counts, as mxCreateDoubleMatrix. */
int mxGetString(const mxArray* a, char* buf, int buflen);
mxArray* mxCreateLogicalMatrix(int m, int n);
mxArray* mxCreateStructMatrix(int m, int n, int nfields, const char** fieldnames);
void mxSetField(mxArray* a, int index, const char* fieldname, mxArray* value);
#else
/* Copies a text array's characters into buf, zero-terminated; 1 when they
 * do not fit in buflen bytes (or a is not text), 0 otherwise. */
int mxGetString(const mxArray* a, char* buf, mwSize buflen);
mxArray* mxCreateLogicalMatrix(mwSize m, mwSize n);
mxArray* mxCreateStructMatrix(mwSize m, mwSize n, int nfields, const char** fieldnames);
/* Stores value in the field of struct element index; the struct owns it. */
void mxSetField(mxArray* a, mwIndex index, const char* fieldname, mxArray* value);
#endif

int mexPrintf(const char* format, ...);
void mexErrMsgTxt(const char* text);

#ifdef __cplusplus
}
#endif

#endif
