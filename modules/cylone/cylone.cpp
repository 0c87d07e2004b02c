// J = cylone(X): J1(x)/x of every element of a real matrix.
#include "frame/elementwise.h"
#include "numerics/cylinder.h"

PARTISCOPE_ELEMENTWISE_MODULE(cylone, partiscope::cylone_elements)
