#!/usr/bin/env python3
"""Counts the tests in ctest's JUnit files: `PASSED FAILED SKIPPED` on one line.

A test that several suites ran (the plain and the sanitized suite run the same) counts
once: passed when it passed in every run, skipped when it was skipped in any run it did
not fail, failed otherwise."""
import sys
import xml.etree.ElementTree as ET

PASSED, SKIPPED, FAILED = 0, 1, 2
worst = {}
for path in sys.argv[1:]:
    for case in ET.parse(path).getroot().iter("testcase"):
        status = case.get("status")
        if status == "fail" or case.find("failure") is not None:
            outcome = FAILED
        elif status == "run" and case.find("skipped") is None:
            outcome = PASSED
        else:
            outcome = SKIPPED
        name = case.get("name")
        worst[name] = max(outcome, worst.get(name, PASSED))
counts = [list(worst.values()).count(o) for o in (PASSED, FAILED, SKIPPED)]
print(*counts)
