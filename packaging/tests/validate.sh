#!/usr/bin/env bash
# Validates an installed file the way desktops and software centres read it:
#   validate.sh desktop FILE    desktop-file-validate
#   validate.sh metainfo FILE   appstreamcli validate, offline
# Anything the validator says, error, warning or hint, fails the check; only
# the pedantic remarks of appstreamcli are left out (it finds the upper-case
# letters of a reverse-DNS id pedantic).
set -euo pipefail
kind=$1
file=$2
status=0
case $kind in
  desktop) output=$(desktop-file-validate "$file" 2>&1) || status=$? ;;
  metainfo) output=$(appstreamcli validate --no-net --no-color "$file" 2>&1) || status=$? ;;
  *) echo "validate.sh: unknown kind $kind" >&2; exit 2 ;;
esac
echo "$output"
if [ "$status" -ne 0 ]; then
  echo "FAIL: $file does not validate (exit code $status)"
  exit 1
fi
if [ "$kind" = desktop ] && [ -n "$output" ]; then
  echo "FAIL: desktop-file-validate has remarks on $file"
  exit 1
fi
if [ "$kind" = metainfo ] && grep -q '^[EWI]:' <<<"$output"; then
  echo "FAIL: appstreamcli has remarks on $file"
  exit 1
fi
echo "PASS: $file validates"
