#!/bin/sh
# Usage: check_exports.sh BIN_DIR
set -eu
bin=$1
status=0

exports() { nm -D --defined-only --format=just-symbols "$1" | sort | tr '\n' ' '; }

expect() {
  actual=$(exports "$1")
  if [ "$actual" != "$2" ]; then
    echo "FAIL $1 exports: $actual (expected: $2)"
    status=1
  fi
}

shim="C_GetFunctionList E_GetAuxFunctionList "
for module in "$bin/Tarvonav4.dll" "$bin/Tarvonav5.dll" \
  "$bin/testmods/Tarvonav4.dll" "$bin/testmods/Tarvonav5.dll"; do
  expect "$module" "$shim"
done
expect "$bin/libtarvona-adaptor.so" \
  "tarvona_adaptor_get_aux_function_list tarvona_adaptor_get_function_list "
if grep -q -i -a "tarvona_fault\|E_GetAuxFunctionList.*fault" "$bin/libtarvona-adaptor.so" ||
  strings "$bin/libtarvona-adaptor.so" | grep -q "fault_layer\|fault_hooks"; then
  echo "FAIL libtarvona-adaptor.so contains fault-layer code"
  status=1
fi
[ $status -eq 0 ] && echo "1 passed, 0 failed"
exit $status
