#!/usr/bin/env python3
"""Writes a gzip-compressed man page from a program's --help (and, for a program with
commands, each command's --help), so that the page never drifts from the program.

usage: manpage_from_help.py --name NAME --summary TEXT --version VERSION --output FILE.1.gz
                   [--commands] [--extra FILE.roff] [--see-also NAME ...] -- PROGRAM
"""

import argparse
import gzip
import os
import re
import subprocess
import sys


def run_help(program, args):
    env = dict(os.environ)
    # The wizard is a Qt program: no display is needed to print its help.
    env["QT_QPA_PLATFORM"] = "offscreen"
    # Sanitizer builds run this too; a leak report at exit is not the page's business.
    env["ASAN_OPTIONS"] = (env.get("ASAN_OPTIONS", "") + ":detect_leaks=0").lstrip(":")
    result = subprocess.run([program] + args + ["--help"], env=env, capture_output=True,
                            text=True, check=False)
    if result.returncode != 0:
        sys.exit(f"manpage_from_help: {program} {' '.join(args)} --help failed: {result.stderr}")
    return result.stdout


def esc(text):
    """Escapes text for roff: backslashes and hyphens, and a leading control character."""
    text = text.replace("\\", "\\e").replace("-", "\\-")
    if text.startswith((".", "'")):
        text = "\\&" + text
    return text


def parse(help_text):
    """Splits CLI11 help into description lines, the usage line and sections of
    (entry, description) pairs, in order."""
    description, usage, sections = [], "", []
    current = None
    for line in help_text.splitlines():
        if not usage:
            if line.startswith("Usage: "):
                usage = line[len("Usage: "):]
            elif line.strip():
                description.append(line.strip())
            continue
        if not line.strip():
            continue
        if not line.startswith(" ") and line.endswith(":"):
            current = (line[:-1], [])
            sections.append(current)
            continue
        if current is None:
            continue
        # An entry starts two spaces in; its description follows after a run of spaces,
        # or on the next lines when the entry is too long for its column.
        if re.match(r"^  \S", line):
            parts = re.split(r"\s{2,}", line.strip(), maxsplit=1)
            current[1].append([parts[0], parts[1] if len(parts) > 1 else ""])
        elif current[1]:
            entry = current[1][-1]
            entry[1] = (entry[1] + " " + line.strip()).strip()
    return description, usage, sections


def usage_without_path(usage, name):
    # CLI11 prints the program as it was started (a build path); the page names it plainly.
    return re.sub(r"^\S*" + re.escape(name) + r"\b", name, usage)


def entries_roff(entries):
    out = []
    for entry, text in entries:
        out.append(".TP")
        out.append("\\fB" + esc(entry) + "\\fR")
        out.append(esc(text) if text else "\\&")
    return out


def page(args):
    description, usage, sections = parse(run_help(args.program, []))
    lines = [
        f'.TH {esc(args.name.upper())} 1 "" "dormane {esc(args.version)}" "User Commands"',
        ".SH NAME",
        f"{esc(args.name)} \\- {esc(args.summary)}",
        ".SH SYNOPSIS",
        ".B " + esc(usage_without_path(usage, args.name)),
        ".SH DESCRIPTION",
    ]
    lines += [esc(d) for d in description]
    commands = []
    for title, entries in sections:
        if title == "Subcommands":
            commands = [entry for entry, _ in entries]
            continue
        lines.append(".SH " + esc(title.upper()))
        lines += entries_roff(entries)
    if args.commands and commands:
        lines.append(".SH COMMANDS")
        for command in commands:
            sub_description, sub_usage, sub_sections = parse(run_help(args.program, [command]))
            lines.append(".SS " + esc(command))
            lines.append(".B " + esc(usage_without_path(sub_usage, args.name)))
            lines.append(".PP")
            lines += [esc(d) for d in sub_description]
            for title, entries in sub_sections:
                lines.append(".PP")
                lines.append("\\fI" + esc(title) + "\\fR")
                lines += entries_roff(entries)
    if args.extra:
        with open(args.extra, encoding="utf-8") as f:
            lines += f.read().rstrip("\n").splitlines()
    if args.see_also:
        lines.append(".SH SEE ALSO")
        lines.append(", ".join(f"\\fB{esc(n)}\\fR(1)" for n in args.see_also))
    return "\n".join(lines) + "\n"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--name", required=True)
    parser.add_argument("--summary", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--output", required=True)
    parser.add_argument("--commands", action="store_true")
    parser.add_argument("--extra")
    parser.add_argument("--see-also", nargs="*", default=[])
    parser.add_argument("program")
    args = parser.parse_args()
    text = page(args).encode("utf-8")
    # No name or time in the gzip header: the same program gives the same file.
    with open(args.output, "wb") as raw:
        with gzip.GzipFile(filename="", mode="wb", fileobj=raw, mtime=0, compresslevel=9) as gz:
            gz.write(text)


if __name__ == "__main__":
    main()
