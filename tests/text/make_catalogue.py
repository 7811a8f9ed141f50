#!/usr/bin/env python3
"""Writes catalogue.tsv from src/text/uitext.h: one pair a line, in the order
of the All array, English and Chinese separated by a tab; a line break inside
a text is written as the two characters \\n.

    python3 tests/text/make_catalogue.py src/text/uitext.h > tests/text/catalogue.tsv
"""
import re
import sys

source = open(sys.argv[1], encoding="utf-8").read()


def c_string(literal_run):
    # Adjacent literals are one string; \uXXXX, \" and \\n as C++ reads them.
    text = "".join(re.findall(r'"((?:[^"\\]|\\.)*)"', literal_run))
    return re.sub(r'\\(u[0-9A-Fa-f]{4}|n|"|\\)',
                  lambda m: {"n": "\n", '"': '"', "\\": "\\"}.get(m.group(1)) or chr(int(m.group(1)[1:], 16)),
                  text)


pairs = {}
for name, body in re.findall(r'inline constexpr UiText (\w+)\{(.*?)\};', source, re.S):
    # The English literals run until the comma that separates the two forms.
    depth_split = re.split(r'(?<=")\s*,\s*(?=")', body.strip())
    english, chinese = depth_split[0], depth_split[1]
    pairs[name] = (c_string(english), c_string(chinese))

order = re.search(r'inline constexpr UiText All\[\] = \{(.*?)\};', source, re.S).group(1)
for name in re.findall(r'\w+', order):
    english, chinese = pairs[name]
    print(english.replace("\n", "\\n") + "\t" + chinese.replace("\n", "\\n"))
