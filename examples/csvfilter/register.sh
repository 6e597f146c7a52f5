#!/bin/sh
# Registers csvfilter.dll.so (the one in the current folder, else the one
# beside this script), gives .csv and .tsv the simple filter adapter's
# persistent handler, and has the adapter use this filter for them. Run it
# with the same ZYT_REGISTRY as zytfilt dump, after zytfilt setup.
set -e
module=$(cd "$(dirname "$0")" && pwd)/csvfilter.dll.so
[ -f ./csvfilter.dll.so ] && module=$(pwd)/csvfilter.dll.so
# The persistent handler of CSimpleFileFilterAdapter (ZytFilters.SimpleFileFilterAdapter).
adapter='{32E04D13-5E47-11D7-B40F-00D009EF4932}'
zytfilt register "$module"
for extension in csv tsv; do
  zytfilt doctypes set "$extension" "$adapter"
  zytfilt doctypes simple "$extension" ZytExamples.CsvFileFilter
done
