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

int mexPrintf(const char* format, ...);
void mexErrMsgTxt(const char* text);

#ifdef __cplusplus
}
#endif

#endif
