// The module file the control loads (Tarvonav4.dll or Tarvonav5.dll): two
// entry points handing over to the shared core for this generation.
#include "adaptor/adaptor_core.h"

#ifndef TARVONA_GENERATION
#error "build with TARVONA_GENERATION=4 or 5"
#endif

extern "C" {

__attribute__((visibility("default"))) CK_RV C_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR list) {
  return tarvona_adaptor_get_function_list(TARVONA_GENERATION, list);
}

__attribute__((visibility("default"))) CK_RV E_GetAuxFunctionList(void** table) {
  return tarvona_adaptor_get_aux_function_list(TARVONA_GENERATION, table);
}

}  // extern "C"
