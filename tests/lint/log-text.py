#!/usr/bin/env python3
"""Every text a log call passes on must go through logText: a name, value or
path from outside could otherwise forge log lines or steer a terminal.

Flags arguments of Logger:: calls that hand over a std::string's characters
(".c_str()", ".data()") without logText (or a helper that returns its result,
named ...ForLog) around them; our own formatted times pass as they are.
Usage: log-text.py SOURCE_DIR [FILE...]: the named files alone, when given.
"""
import os
import re
import sys

CALL = re.compile(r"\bLogger::(\w+)\s*\(")
ESCAPED = re.compile(r"^(logText|\w+ForLog|timeText)\(")
FOLDERS = ("api", "vesk", "plugins", "drivers", "platform", "tools")


def arguments(text, start):
    """The top-level arguments of the call whose "(" ends at start, and its end."""
    args, depth, current, at = [], 1, "", start
    while at < len(text) and depth > 0:
        c = text[at]
        if c in "\"'":
            end = at + 1
            while end < len(text) and text[end] != c:
                end += 2 if text[end] == "\\" else 1
            current += text[at:end + 1]
            at = end + 1
            continue
        if c in "([{":
            depth += 1
        elif c in ")]}":
            depth -= 1
            if depth == 0:
                break
        if c == "," and depth == 1:
            args.append(current.strip())
            current = ""
        else:
            current += c
        at += 1
    args.append(current.strip())
    return args, at


def raw(argument):
    return re.search(r"\.(c_str|data)\(\)", argument) and not ESCAPED.match(argument)


def sources(root):
    for folder in FOLDERS:
        for base, _, files in os.walk(os.path.join(root, folder)):
            if os.sep + "tests" not in base:
                yield from (os.path.join(base, name) for name in files
                            if name.endswith((".cpp", ".h")))


def main(root, only):
    found = []
    for path in only or sources(root):
        with open(path, encoding="utf-8", errors="replace") as source:
            # Comment lines (usage examples) keep their place but say nothing.
            text = re.sub(r"(?m)^[ \t]*//.*$", "", source.read())
        for call in CALL.finditer(text):
            args, _ = arguments(text, call.end())
            # Logger::log takes the level first, then the format.
            for argument in args[2 if call.group(1) == "log" else 1:]:
                if raw(argument):
                    line = text.count("\n", 0, call.start()) + 1
                    found.append(f"{os.path.relpath(path, root)}:{line}: {argument}")
    for problem in found:
        print(problem)
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2:]))
