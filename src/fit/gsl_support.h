#pragma once

#include <gsl/gsl_blas.h>
#include <gsl/gsl_errno.h>
#include <gsl/gsl_matrix.h>
#include <gsl/gsl_multifit.h>
#include <gsl/gsl_multifit_nlinear.h>
#include <gsl/gsl_vector.h>

#include <memory>
#include <new>

namespace varnix::gsl {

/// GSL reports errors through a handler that aborts the program by
/// default; the fitting code reads every status itself.
inline void silenceErrors() {
  static const bool once = [] {
    gsl_set_error_handler_off();
    return true;
  }();
  (void)once;
}

struct Free {
  void operator()(gsl_vector* v) const { gsl_vector_free(v); }
  void operator()(gsl_matrix* m) const { gsl_matrix_free(m); }
  void operator()(gsl_multifit_linear_workspace* w) const { gsl_multifit_linear_free(w); }
  void operator()(gsl_multifit_nlinear_workspace* w) const { gsl_multifit_nlinear_free(w); }
};

/// A GSL object freed with its own function.
template <typename T>
using Ptr = std::unique_ptr<T, Free>;

/// Takes ownership of a freshly allocated GSL object; null (GSL could not
/// allocate) throws std::bad_alloc.
template <typename T>
Ptr<T> owned(T* p) {
  if (!p) throw std::bad_alloc();
  return Ptr<T>(p);
}

}  // namespace varnix::gsl
