// capi_c.h -- what C and C++ each make of the public headers, as tables of named
// values (every constant, every record's size, every field's offset) built from
// the lists cheader.py writes, for test_capi to compare
#ifndef TESTS_CAPI_CAPI_C_H
#define TESTS_CAPI_CAPI_C_H

#include <stddef.h>

#include "capi_lists.h"

typedef struct capi_item {
    const char* name; // "EMP_VOLUME", "em_node", "em_node.volume"; null ends a table
    long long value;  // the constant's value, the record's size, the field's offset
} capi_item;

#define CAPI_CONSTANT(name) {#name, (long long)(name)},
#define CAPI_RECORD(record) {#record, (long long)sizeof(record)},
#define CAPI_FIELD(record, field) {#record "." #field, (long long)offsetof(record, field)},
#define CAPI_ITEMS                                                                                                               \
    CAPI_CONSTANTS(CAPI_CONSTANT) CAPI_RECORDS(CAPI_RECORD) CAPI_FIELDS(CAPI_FIELD)                                              \
    {                                                                                                                            \
        NULL, 0                                                                                                                  \
    }

#ifdef __cplusplus
extern "C" {
#endif
// The tables of capi_c.c compiled as C99 and as C11.
extern const capi_item capi_c99[];
extern const capi_item capi_c11[];
#ifdef __cplusplus
}
#endif

#endif
