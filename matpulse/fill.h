// Random inputs: each fill thread owns a disjoint range of one matrix and its own generator.
#pragma once

// Fills `count` elements of the run's element type with `nthreads` threads, each seeded from
// one std::random_device opened per call.
void fill_matrix(void* data, unsigned count);
// Elements start .. start+len-1, dispatched on data_type; equal seeds give equal elements.
void fill_matrix_worker(void* data, unsigned start, unsigned len, int seed);
template <typename T>
void fill_part(void* data, unsigned start, unsigned len, int seed);
// Bounds of the uniform draw for the run's element type and options.
void get_range_start_and_end(double& lo, double& hi);
