"""Prints why each skipped test did not run, from ctest's JUnit report.

    skipped_tests.py REPORT.xml

A test gives its reason on its own output: a script prints a line that starts
with "SKIP", GoogleTest prints "FILE:LINE: Skipped" and the message below it.
Without either, the last line of the test's output stands for the reason.
"""

import sys
import xml.etree.ElementTree as ElementTree


def reason(output):
    lines = [line.rstrip() for line in output.splitlines()]
    found = []
    for index, line in enumerate(lines):
        if line.startswith("SKIP"):
            found.append(line)
        elif line.endswith(": Skipped"):
            for message in lines[index + 1:]:
                if not message or message.startswith("["):
                    break
                found.append(message)
    if found:
        return "; ".join(dict.fromkeys(found))
    rest = [line for line in lines if line]
    return rest[-1] if rest else "no reason given"


def main():
    cases = ElementTree.parse(sys.argv[1]).getroot().iter("testcase")
    skipped = [case for case in cases if case.find("skipped") is not None]
    if not skipped:
        return
    print(f"{len(skipped)} tests skipped:")
    for case in skipped:
        output = case.findtext("system-out") or ""
        print(f"  {case.get('name')}: {reason(output)}")


main()
