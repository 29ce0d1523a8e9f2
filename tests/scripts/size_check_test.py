"""The size check's reading of C++ and its verdict on a tree."""

import os
import subprocess
import sys
import tempfile
import unittest

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "size_check.py")
sys.path.insert(0, os.path.dirname(SCRIPT))
import size_check  # noqa: E402


def body(lines):
    return "\n".join(f"    x += {i};" for i in range(lines))


class CppFunctions(unittest.TestCase):
    def test_each_definition_is_found_with_its_lines(self):
        # (source, [(name, first line, line count)])
        cases = [
            ("int f(int a)\n{\n    return a;\n}\n", [("f", 1, 4)]),
            ("template <typename T>\nT g(T a) { return a; }\n", [("g", 1, 2)]),
            # Members inside classes and namespaces, qualified definitions outside.
            (
                "namespace n {\nclass C {\npublic:\n    int m() const { return 1; }\n};\n}\n" "void n::C::k()\n{\n}\n",
                [("m", 4, 1), ("n::C::k", 7, 3)],
            ),
            # A constructor's initialisers in braces belong to its signature.
            ("C::C(int a) : a_{a}, b_{1, 2}\n{\n    x();\n}\n", [("C::C", 1, 4)]),
            # Braces in comments, strings, characters and raw strings are not code.
            (
                'void h()\n{\n    // }\n    s = "}}";\n    c = \'{\';\n    r = R"x(a"}")x";\n    /* { */\n}\n',
                [("h", 1, 8)],
            ),
            # Initialisers, enums and lambdas at namespace level are no functions;
            # lambdas inside one are part of it.
            (
                "const int t[] = {1, 2};\nenum class E { A, B };\nauto l = [](int a) { return a; };\n"
                "void p()\n{\n    auto q = [] { return 0; };\n    if (q()) { }\n}\n",
                [("p", 4, 5)],
            ),
            ("TEST(Suite, Name)\n{\n}\n", [("TEST(Suite, Name)", 1, 3)]),
            ('#define M(x) { x }\nextern "C" {\nint e() { return 0; }\n}\n', [("e", 3, 1)]),
            ("struct S { int a; } s;\nint o() const\n{\n}\n", [("o", 2, 3)]),
        ]
        for source, expected in cases:
            with self.subTest(source=source):
                self.assertEqual(size_check.cpp_functions(source), expected)


class TreeVerdict(unittest.TestCase):
    def run_on(self, files):
        with tempfile.TemporaryDirectory() as root:
            for path, text in files.items():
                os.makedirs(os.path.dirname(os.path.join(root, path)), exist_ok=True)
                with open(os.path.join(root, path), "w", encoding="utf-8") as file:
                    file.write(text)
            done = subprocess.run([sys.executable, SCRIPT, "--root", root], capture_output=True, text=True, check=False)
            return done.returncode, done.stdout

    def test_offenders_fail_and_allowed_ones_pass(self):
        long_function = "void Long()\n{\n" + body(59) + "\n}\n"  # 62 lines
        fitting = "void Fits()\n{\n" + body(57) + "\n}\n"  # 60 lines
        long_file = "\n".join("int v%d = 0;" % i for i in range(401)) + "\n"
        long_python = "def long():\n" + "\n".join(f"    x = {i}" for i in range(60)) + "\n"
        cases = [
            ({"sim/a.cpp": fitting}, 0, None),
            ({"sim/a.cpp": long_function}, 1, "sim/a.cpp:1: Long has 62 lines"),
            ({"ui/b.h": long_file}, 1, "ui/b.h: 401 lines"),
            ({"python/landuse/c.py": long_python}, 1, "python/landuse/c.py:1: long has 61 lines"),
            ({"sim/controls/control_table.cpp": "void Table()\n{\n" + body(70) + "\n}\n"}, 0, "allowed"),
            ({"python/landuse/e.py": "x = 1\n" * 401}, 1, "python/landuse/e.py: 401 lines"),
            # A docstring is documentation: it counts in neither length.
            ({"python/landuse/d.py": '"""' + "text\n" * 400 + '"""\ndef f():\n    """' + "text\n" * 80 + '"""\n'}, 0, None),
            # Only the listed folders are read.
            ({"tests/a.cpp": long_function}, 0, None),
        ]
        for files, code, text in cases:
            with self.subTest(files=list(files)):
                returned, out = self.run_on(files)
                self.assertEqual(returned, code, out)
                if text:
                    self.assertIn(text, out)


if __name__ == "__main__":
    unittest.main()
