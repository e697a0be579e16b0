#!/usr/bin/env python3
"""The layer check fails on each kind of planted include and passes a tree that keeps the layers."""
import os
import subprocess
import sys
import tempfile
import unittest

CHECK = sys.argv.pop(1) if len(sys.argv) > 1 else os.path.join(
    os.path.dirname(__file__), '..', '..', 'tools', 'layers', 'check_layers.py')


def tree(files):
    root = tempfile.mkdtemp(prefix='layers-')
    for path, text in files.items():
        full = os.path.join(root, path)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, 'w') as f:
            f.write(text)
    return root


def run(root):
    r = subprocess.run([sys.executable, CHECK, root], capture_output=True, text=True)
    return r.returncode, r.stdout


CLEAN = {
    'core/astronomy/moon.h': '#pragma once\n',
    'core/station/sqm.h': '#include "core/astronomy/moon.h"\n',
    'core/site/acquisition.h': '#include "core/station/sqm.h"\n#include <vector>\n',
    'plot/plotrender.h': '#include "core/site/acquisition.h"\n',
    'gui/dialogs.h': '#include "plot/plotrender.h"\n#include "gui/other.h"\n',
    'gui/other.h': '#pragma once\n',
    'programs/desktop/mainform.cpp': '#include "gui/dialogs.h"\n#include "build_version.h"\n',
    'programs/station/main.cpp': '#include "core/site/acquisition.h"\n',
    'tools/sqmle-sim/sim.cpp': '#include "core/station/sqm.h"\n#include "tools/sqmle-sim/sim.h"\n',
    'tools/sqmle-sim/sim.h': '#pragma once\n',
}


class LayerCheck(unittest.TestCase):
    def test_a_tree_that_keeps_the_layers_passes(self):
        code, out = run(tree(CLEAN))
        self.assertEqual((code, out), (0, ''))

    def test_each_kind_of_break_fails_and_names_the_line(self):
        cases = {
            'upward': ('core/site/acquisition.h', '#include "gui/dialogs.h"\n',
                       'core/site/acquisition.h:1: "gui/dialogs.h": core/site may not include gui'),
            'two steps up': ('core/astronomy/moon.h', '#pragma once\n#include "core/station/sqm.h"\n',
                             'core/astronomy/moon.h:2: "core/station/sqm.h"'),
            'program beside program': ('programs/station/main.cpp', '#include "programs/desktop/mainform.cpp"\n',
                                       'programs/station may not include programs/desktop'),
            'a tool from the product': ('core/site/acquisition.h', '#include "tools/sqmle-sim/sim.h"\n',
                                        'nothing outside tools/ may include a development tool'),
            'a tool using widgets': ('tools/sqmle-sim/sim.cpp', '#include "gui/dialogs.h"\n',
                                     'a development tool may use only the core'),
            'a bare name': ('gui/dialogs.h', '#include "other.h"\n', 'name the layer ("gui/other.h")'),
        }
        for name, (path, text, expected) in cases.items():
            with self.subTest(name):
                files = dict(CLEAN)
                files[path] = text
                code, out = run(tree(files))
                self.assertEqual(code, 1, out)
                self.assertIn(expected, out)


if __name__ == '__main__':
    unittest.main()
