/* What the adaptor core exports to the two module shims (Tarvonav4.dll,
 * Tarvonav5.dll). Both shims link one core library, so the core sees both
 * generations and can share a backend module between them. */
#ifndef TARVONA_ADAPTOR_ADAPTOR_CORE_H
#define TARVONA_ADAPTOR_ADAPTOR_CORE_H

#include <p11-kit/pkcs11.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The table E_GetAuxFunctionList hands out. The token maker's table holds
 * vendor extensions; the adaptor has none, so it only tells who it is. */
struct tarvona_aux_function_list {
  CK_VERSION version;
  unsigned long generation; /* 4 or 5 */
};

/* C_GetFunctionList of generation 4 or 5. */
CK_RV tarvona_adaptor_get_function_list(int generation, CK_FUNCTION_LIST_PTR_PTR list);

/* E_GetAuxFunctionList of generation 4 or 5: stores the generation's static
 * table in *table and returns 0. */
CK_RV tarvona_adaptor_get_aux_function_list(int generation, void** table);

#ifdef __cplusplus
}
#endif

#endif /* TARVONA_ADAPTOR_ADAPTOR_CORE_H */
