/* Fault and trace control of the test build of the adaptor modules
 * (libtarvona-adaptor-faults.so). Tests link this library directly; the
 * adaptor modules loaded by the control link the same library, so both see
 * one state. Nothing here exists in the shipped adaptor. */
#ifndef TARVONA_TESTING_FAULTS_FAULT_CONTROL_H
#define TARVONA_TESTING_FAULTS_FAULT_CONTROL_H

#include <p11-kit/pkcs11.h>

#ifdef __cplusplus
extern "C" {
#endif

/* generation: 4 (Tarvonav4.dll), 5 (Tarvonav5.dll) or 0 (both). */

/* Forget every fault, override and trace entry. */
void tarvona_faults_reset(void);

/* Make `function` (a Cryptoki name such as "C_Login", or
 * "C_GetFunctionList") return `rv` without reaching the real module, from its
 * `first_call`-th call on (1-based, counted per generation since the fault
 * was set) for `count` calls (0: for ever). "C_GetFunctionList" with rv 0
 * returns CKR_OK and a null list; so does "E_GetAuxFunctionList" with a null
 * table. A later fault for the same function and generation replaces the
 * earlier one. */
void tarvona_fault_inject(int generation, const char *function, CK_RV rv,
                          unsigned long first_call, unsigned long count);

/* Override fields of the CK_TOKEN_INFO that C_GetTokenInfo returns for the
 * token with this label (blank-padded comparison): the 16 serial-number
 * bytes (NULL keeps them) and flags set / cleared. */
void tarvona_fault_token_info(int generation, const char *label,
                              const unsigned char *serial16,
                              CK_FLAGS flags_set, CK_FLAGS flags_clear);

/* A program the test starts takes one such override from its environment:
 * TARVONA_FAULT_TOKEN_FLAGS="LABEL:FLAGS" sets FLAGS (hex) on the token
 * with that label in both generations, for the life of the process. */

/* With `on` non-zero, the generation presents every object handle as an
 * address-like value far above 32 bits, as some smart-card modules do:
 * backend handle h is shown as 0x55D6B3D20000 + 16 h (0 stays 0), and
 * handles the caller passes are mapped back; a value the layer never hands
 * out reaches the backend as CK_INVALID_HANDLE. Applies to every function
 * that takes or returns object handles, from the next call on. The trace
 * records handles as the caller passed them. */
void tarvona_fault_large_handles(int generation, int on);

/* With `length` non-zero, C_GetAttributeValue answers every length query
 * (an entry with a null value) of the generation with `length`, as a module
 * that reports a wrong or unbounded length would; 0 turns it off. */
void tarvona_fault_attribute_length(int generation, CK_ULONG length);

/* With `on` non-zero, the generation's tokens are write-protected, as a
 * read-only card profile or a trust store is: C_GetTokenInfo reports
 * CKF_WRITE_PROTECTED, and every read/write C_OpenSession and every
 * C_InitToken answers CKR_TOKEN_WRITE_PROTECTED; read-only sessions open as
 * usual (what else needs writing, the module refuses in them). */
void tarvona_fault_write_protected(int generation, int on);

/* Makes the generation's tokens sit in a reader with its own keypad: with
 * `count` non-zero, C_GetTokenInfo reports CKF_PROTECTED_AUTHENTICATION_PATH,
 * and each null PIN that C_Login, C_SetPIN or C_InitPIN is given is typed on
 * the keypad: the next of the `count` PINs in `typed`, in order, reaches the
 * module in its place (none left: CKR_FUNCTION_CANCELED, as when the user
 * cancels on the reader). A non-null PIN of length 0 is refused with
 * CKR_PIN_LEN_RANGE; other PINs pass as they are. `count` 0 turns it off. */
void tarvona_fault_pin_pad(int generation, const char *const *typed, unsigned long count);

/* One traced call, as the control made it. Fields a function does not have
 * stay 0. Output capacity is 0 for a length query (null output buffer).
 * C_SetPIN puts the old PIN in bytes, the new one straight after it.
 * C_GetAttributeValue records the first entry's capacity in length2, not its
 * value. C_OpenSession and C_CreateObject record the new handle. At most
 * 100000 entries are kept. */
struct tarvona_trace_entry {
  int generation;
  char function[32];
  CK_RV rv;                  /* what the caller got back */
  CK_SLOT_ID slot;
  CK_SESSION_HANDLE session;
  CK_USER_TYPE user_type;    /* C_Login */
  CK_MECHANISM_TYPE mechanism; /* the *Init calls */
  CK_OBJECT_HANDLE object;   /* key or object handle */
  CK_ULONG count;            /* template entries; C_FindObjects maximum */
  CK_ULONG length;           /* data / PIN length; old PIN for C_SetPIN */
  CK_ULONG length2;          /* output capacity on entry; new PIN for C_SetPIN */
  CK_FLAGS flags;            /* C_OpenSession; C_GetSlotList token-present */
  unsigned char bytes[64];   /* C_InitToken label (32), C_Login/C_InitPIN PIN,
                                first template entry's value */
  CK_ULONG bytes_len;
  CK_ATTRIBUTE_TYPE attribute; /* first template entry's type */
  CK_BBOOL no_output;          /* single-part and final calls given a null
                                  output buffer: a length query, which leaves
                                  the operation active */
  CK_BBOOL null_pin;           /* C_Login, C_InitPIN, C_SetPIN (either PIN)
                                  given a null PIN pointer */
};

/* Calls recorded since the last reset or clear, oldest first. */
unsigned long tarvona_trace_count(void);
/* Copies entry `index` into *entry; 0 when there is no such entry. */
int tarvona_trace_get(unsigned long index, struct tarvona_trace_entry *entry);
void tarvona_trace_clear(void);

#ifdef __cplusplus
}
#endif

#endif /* TARVONA_TESTING_FAULTS_FAULT_CONTROL_H */
