// J = cylzero(X): J0(x)/x of every element of a real matrix.
#include "frame/elementwise.h"
#include "numerics/cylinder.h"

PARTISCOPE_ELEMENTWISE_MODULE(cylzero, partiscope::cylzero_elements)
