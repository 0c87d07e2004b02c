// Peak working memory of one detection-map call beyond its inputs and its
// result, in bytes per pixel: the rise of the process's peak resident size.
#include <sys/resource.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <fftw3.h>

#include "core/detection/detection_map.h"
#include "core/detection/detection_stack.h"

namespace {

long peak_kib() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
    // detection_memory [reference | stack <pairs>]
    const bool reference = argc > 1 && std::strcmp(argv[1], "reference") == 0;
    const int pairs = argc > 2 && std::strcmp(argv[1], "stack") == 0 ? std::atoi(argv[2]) : 0;
    const std::size_t M = 1024, N = 1024, n = M * N;
    std::vector<double> hol(n), w(n, 1.0), wp(n, 1.0), q0(n);
    for (std::size_t k = 0; k < n; ++k) hol[k] = std::sin(0.001 * static_cast<double>(k));
    partiscope::DetectionInput in;
    in.hol = hol.data();
    in.M = M;
    in.N = N;
    in.w = w.data();
    in.w_prim = wp.data();
    in.lambda = 6.328e-7;
    in.pix = 6.7e-6;
    in.r = 3e-5;
    in.z = 0.1;
    in.fov = {1, M, 1, N};
    if (pairs > 0) {
        // The stack's own maps (best score and pair) are its results, like q0.
        std::vector<double> depths(static_cast<std::size_t>(pairs));
        for (int k = 0; k < pairs; ++k) depths[static_cast<std::size_t>(k)] = 0.05 + 0.005 * k;
        std::vector<std::int32_t> pair(n);
        partiscope::StackInput s;
        s.hol = hol.data();
        s.M = M;
        s.N = N;
        s.lambda = in.lambda;
        s.pix = in.pix;
        s.depths = depths.data();
        s.nz = depths.size();
        s.radii = &in.r;
        s.nr = 1;
        s.fov = in.fov;
        const long before = peak_kib();
        partiscope::detection_stack(s, {q0.data(), pair.data()}, FFTW_ESTIMATE);
        std::printf("detectstack/memory/1024/1024/%d_pairs %.1f bytes per pixel\n", pairs,
                    static_cast<double>(peak_kib() - before) * 1024.0 / static_cast<double>(n));
        return 0;
    }
    const long before = peak_kib();
    if (reference) partiscope::reference::detection_map(in, q0.data(), FFTW_ESTIMATE);
    else partiscope::detection_map(in, q0.data(), FFTW_ESTIMATE);
    const long after = peak_kib();
    std::printf("detectscan%s/memory/1024/1024 %.1f bytes per pixel\n", reference ? "/reference" : "",
                static_cast<double>(after - before) * 1024.0 / static_cast<double>(n));
    return 0;
}
