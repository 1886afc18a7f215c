#!/usr/bin/env python3
"""The scripts as their reader meets them: every one in scripts/ answers
--help with its usage and does nothing else (wine-session also when
sourced), and every script and preset that README.md and docs/*.md name
exists. Unknown options go to unittest."""

import glob
import json
import os
import re
import subprocess
import tempfile
import unittest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
SCRIPTS = os.path.join(ROOT, "scripts")
# What a script that went beyond its usage would run first: setting up,
# building, Wine, the repository, or making folders.
STUBBED = ["apt-get", "dpkg-query", "sudo", "cmake", "ctest", "make", "git",
           "clang-format", "go", "python3", "makensis", "osslsigncode",
           "wine", "wineserver", "wineboot", "Xvfb", "setsid", "flock",
           "mkdir", "cp", "mv", "touch", "realpath"]


def scripts():
    return sorted(name for name in os.listdir(SCRIPTS)
                  if os.path.isfile(os.path.join(SCRIPTS, name)))


class HelpTest(unittest.TestCase):
    def setUp(self):
        """A PATH whose first folder answers each of STUBBED by writing its
        name to a log and failing."""
        self.stubs = tempfile.TemporaryDirectory()
        self.addCleanup(self.stubs.cleanup)
        self.log = os.path.join(self.stubs.name, "ran.log")
        for name in STUBBED:
            path = os.path.join(self.stubs.name, name)
            with open(path, "w") as stub:
                stub.write('#!/bin/sh\necho %s >>"%s"\nexit 1\n'
                           % (name, self.log))
            os.chmod(path, 0o755)
        self.environment = dict(os.environ,
                                PATH=self.stubs.name + ":" + os.environ["PATH"])
        for name in ["WINEPREFIX", "DISPLAY", "ZV_POWERSHELL"]:
            self.environment.pop(name, None)

    def run_shell(self, command):
        """COMMAND under bash in a scratch folder, with the stubs first;
        (exit code, standard output, standard error, stubs it ran)."""
        if os.path.exists(self.log):
            os.remove(self.log)
        run = subprocess.run(command, cwd=self.stubs.name,
                             env=self.environment, stdin=subprocess.DEVNULL,
                             capture_output=True, text=True, timeout=60)
        ran = open(self.log).read().split() if os.path.exists(self.log) else []
        return run.returncode, run.stdout, run.stderr, ran

    def test_every_script_answers_help_with_its_usage(self):
        self.assertIn("wine-session", scripts())
        for name in scripts():
            path = os.path.join(SCRIPTS, name)
            # wine-session is meant to be sourced and has no execute bit.
            command = [path] if os.access(path, os.X_OK) else ["bash", path]
            for option in ["--help", "-h"]:
                with self.subTest(script=name, option=option):
                    code, out, err, ran = self.run_shell(command + [option])
                    self.assertEqual((code, err, ran), (0, "", []))
                    # The header comment, less its comment marks, names the
                    # script as it is called.
                    self.assertIn("scripts/" + name, out)
                    self.assertNotRegex(out, r"(?m)^#")

    def test_sourced_wine_session_help_returns_to_the_caller(self):
        code, out, err, ran = self.run_shell(
            ["bash", "-c", 'source "$0" --help; echo "after ${WINEPREFIX-}."',
             os.path.join(SCRIPTS, "wine-session")])
        self.assertEqual((code, err, ran), (0, "", []))
        self.assertIn("source scripts/wine-session BUILD_DIR", out)
        self.assertTrue(out.endswith("\nafter .\n"), out)


def named_scripts(text):
    """The NAME of each scripts/NAME in TEXT: not a folder below scripts/
    (scripts/tests/...), and a sentence's full stop is not part of it."""
    return [match.group(1).rstrip(".") for match in re.finditer(
        r"(?<![\w./-])scripts/([\w.-]+)(/?)", text) if not match.group(2)]


def named_presets(text):
    """(NAME, kinds it may be) for each --preset NAME in TEXT: a test
    preset after ctest, a build preset after cmake --build, a configure
    preset after cmake alone, any otherwise. Commands end at line ends,
    &&, ||, ;, | and $( ."""
    found = []
    for command in re.split(r"\n|&&|\|\||;|\||\$\(|`", text):
        for match in re.finditer(r"--preset[= ]+([\w.-]+)", command):
            before = command[:match.start()]
            if re.search(r"\bctest\b", before):
                kinds = ["test"]
            elif "--build" in before:
                kinds = ["build"]
            elif re.search(r"\bcmake\b", before):
                kinds = ["configure"]
            else:
                kinds = ["configure", "build", "test"]
            found.append((match.group(1), kinds))
    return found


class DocumentedNamesTest(unittest.TestCase):
    def test_named_scripts_presets_and_links_exist(self):
        with open(os.path.join(ROOT, "CMakePresets.json")) as file:
            presets = json.load(file)
        defined = {kind: {preset["name"] for preset in presets[kind + "Presets"]}
                   for kind in ["configure", "build", "test"]}
        documents = [os.path.join(ROOT, "README.md")] + sorted(
            glob.glob(os.path.join(ROOT, "docs", "*.md")))
        for document in documents:
            with open(document, encoding="utf-8") as file:
                text = file.read()
            where = os.path.relpath(document, ROOT)
            for name in named_scripts(text):
                with self.subTest(document=where, script=name):
                    self.assertTrue(
                        os.path.isfile(os.path.join(SCRIPTS, name)),
                        "%s names scripts/%s" % (where, name))
            for link in re.findall(r"\]\(([^)#\s]+)(?:#[^)]*)?\)", text):
                if re.match(r"\w+:", link):
                    continue  # a web address
                with self.subTest(document=where, link=link):
                    self.assertTrue(os.path.exists(os.path.join(
                        os.path.dirname(document), link)),
                        "%s links %s" % (where, link))
            for name, kinds in named_presets(text):
                with self.subTest(document=where, preset=name):
                    self.assertTrue(
                        any(name in defined[kind] for kind in kinds),
                        "%s names the %s preset %s"
                        % (where, " or ".join(kinds), name))

    def test_the_scan_finds_what_a_text_names(self):
        text = ("Run `scripts/package`, not scripts/tests/x.py.\n"
                "    cmake --preset windows && cmake --build --preset bench\n"
                "    source scripts/wine-session build && ctest --preset native\n")
        self.assertEqual(named_scripts(text), ["package", "wine-session"])
        self.assertEqual(named_presets(text), [
            ("windows", ["configure"]), ("bench", ["build"]),
            ("native", ["test"])])


if __name__ == "__main__":
    unittest.main()
