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
    'tools/sqmle-sim/CMakeLists.txt': 'add_library(kalo_sqmsim STATIC sim.cpp)\n'
                                      'target_link_libraries(kalo_sqmsim PUBLIC kalo_station)\n',
    'astro/astro.c': '#include "astro.h"\n',
    'astro/astro.h': '#pragma once\n',
    'core/station/CMakeLists.txt': 'add_library(kalo_station STATIC sqm.cpp)\n',
    'core/site/CMakeLists.txt': 'add_library(kalo_site STATIC acquisition.cpp)\n'
                                '# kalo_gui would climb\n'
                                'target_link_libraries(kalo_site PUBLIC kalo_station Threads::Threads)\n',
    'gui/CMakeLists.txt': 'add_library(kalo_gui STATIC dialogs.cpp)\n'
                          'target_link_libraries(kalo_gui\n  PUBLIC kalo_site\n  Qt6::Widgets)\n',
    'tests/core/test_sqm.cpp': '#include "gui/dialogs.h"\n#include "tools/sqmle-sim/sim.h"\n',
    'db/schema.sql': '',
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
            'a climb through ..': ('core/site/acquisition.h', '#include "../../gui/dialogs.h"\n',
                                   'core/site may not include gui'),
            'a path with ..': ('gui/dialogs.h', '#include "gui/../gui/other.h"\n',
                               'name the layer ("gui/other.h"), not a path with'),
            'a test from the product': ('core/site/acquisition.h', '#include "tests/core/test_sqm.cpp"\n',
                                        'nothing outside tests/ may include it'),
            'astro beyond itself': ('astro/astro.c', '#include "../core/station/sqm.h"\n',
                                    'the astro library includes only its own files'),
            'a link edge upward': ('core/site/CMakeLists.txt',
                                   'add_library(kalo_site STATIC a.cpp)\n'
                                   'target_link_libraries(kalo_site\n  PUBLIC kalo_station\n  PRIVATE kalo_gui)\n',
                                   'core/site/CMakeLists.txt:2: kalo_site links kalo_gui: core/site may not link gui'),
            'a tool linked by the product': ('core/station/CMakeLists.txt',
                                             'add_library(kalo_station STATIC sqm.cpp)\n'
                                             'target_link_libraries(kalo_station PRIVATE kalo_sqmsim)\n',
                                             'nothing outside tools/ may link a development tool'),
            'an unknown top folder': ('extras/helper.cpp', '#include "core/site/acquisition.h"\n',
                                      'extras/: a folder the layer table does not know'),
            'a circle in one folder': ('gui/other.h', '#include "gui/dialogs.h"\n',
                                       'gui/dialogs: a circle of includes: gui/dialogs -> gui/other -> gui/dialogs'),
            'a circle through a private header': ('gui/other.cpp', '#include "gui/dialogs_p.h"\n',
                                                  'a circle of includes: gui/dialogs -> gui/other -> gui/dialogs'),
            'an unknown layer folder': ('core/weather/rain.h', '#pragma once\n',
                                        'core/weather/: a folder the layer table does not know'),
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
