#!/usr/bin/env python3
"""The function-length check counts what is a function, and only that."""
import os
import subprocess
import sys
import tempfile
import unittest

CHECK = sys.argv.pop(1) if len(sys.argv) > 1 else os.path.join(
    os.path.dirname(__file__), '..', '..', 'tools', 'layers', 'check_function_length.py')


def body(lines):
    return ''.join(f'    x += {i};\n' for i in range(lines))


def run(files, limit=80):
    root = tempfile.mkdtemp(prefix='functions-')
    for name, text in files.items():
        with open(os.path.join(root, name), 'w') as f:
            f.write(text)
    r = subprocess.run([sys.executable, CHECK, '--limit', str(limit), root], capture_output=True, text=True)
    return r.returncode, r.stdout


class FunctionLength(unittest.TestCase):
    def test_what_is_too_long_is_named_with_its_line(self):
        # The lines of both braces count: 79 lines of body make 81.
        cases = {
            'a function': 'int F(int x) {\n' + body(79) + '}\n',
            'a member defined in its class': 'struct A {\n  int x;\n  void F() const {\n' + body(79) + '  }\n};\n',
            'a constructor with its initialisers': 'A::A(int a)\n    : a_(a),\n      b_{a} {\n' + body(79) + '}\n',
            'a function after a braced default': 'struct B { int b{0}; };\nint F() {\n' + body(79) + '}\n',
            'a function returning late': 'auto F() -> std::vector<int> {\n' + body(79) + '}\n',
            'a lambda at namespace scope': 'const auto f = [](int x) {\n' + body(79) + '};\n',
        }
        for name, text in cases.items():
            with self.subTest(name):
                code, out = run({'a.cpp': '#include <vector>\n' + text})
                self.assertEqual(code, 1, out)
                self.assertIn('a.cpp:', out)
                self.assertIn('a function of 81 lines (at most 80)', out)

    def test_what_is_not_a_function_or_fits_passes(self):
        cases = {
            'a function of exactly the limit': 'int F(int x) {\n' + body(78) + '}\n',
            'a class of short members': 'class A {\n' + ''.join(f'  int F{i}() {{ return {i}; }}\n' for i in range(120)) + '};\n',
            'a table': 'const int kTable[] = {\n' + ''.join(f'  {i},\n' for i in range(200)) + '};\n',
            'a namespace': 'namespace n {\n' + ''.join(f'int F{i}() {{ return {i}; }}\n' for i in range(120)) + '}\n',
            'braces in texts and comments': 'int F() {\n  // }}}\n  const char* s = "{{{{";\n  /* {\n{\n */\n'
                                            '  char c = \'{\';\n' + body(60) + '}\n',
        }
        for name, text in cases.items():
            with self.subTest(name):
                self.assertEqual(run({'a.cpp': text}), (0, ''))

    def test_a_lambda_counts_with_the_function_that_holds_it(self):
        text = 'void F() {\n  auto g = [] {\n' + body(40) + '  };\n' + body(40) + '}\n'
        code, out = run({'a.cpp': text})
        self.assertEqual(code, 1, out)
        self.assertIn('a.cpp:1: a function of 84 lines', out)
        self.assertEqual(out.count('\n'), 1, out)


if __name__ == '__main__':
    unittest.main()
