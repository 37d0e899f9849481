#!/bin/sh
# Usage: check_exports.sh MODULE
set -eu
actual=$(nm -D --defined-only --format=just-symbols "$1" | sort | tr '\n' ' ')
expected="DllCanUnloadNow DllGetClassObject DllRegisterServer DllUnregisterServer "
if [ "$actual" != "$expected" ]; then
  echo "FAIL $1 exports: $actual (expected: $expected)"
  exit 1
fi
echo "1 passed, 0 failed"
