#!/usr/bin/env python3
"""The compiler itself keeps each product target to the layers it may use:
from the target's include root a header of its own layer and of the core
below it is found, one of a layer above or beside is not.

Usage: test_include_roots.py COMPILER BUILD_DIR SOURCE_DIR
"""
import glob
import os
import subprocess
import sys
import unittest

COMPILER, BUILD, SOURCE = sys.argv[1], os.path.abspath(sys.argv[2]), os.path.abspath(sys.argv[3])
del sys.argv[1:4]
sys.path.insert(0, os.path.join(SOURCE, 'tools', 'layers'))
import check_layers  # noqa: E402

# Each product target and the layer its files belong to.
TARGETS = {
    'kalo_astronomy': 'core/astronomy',
    'kalo_station': 'core/station',
    'kalo_site': 'core/site',
    'kalo_plot': 'plot',
    'kalo_gui': 'gui',
    'kalo_desktop': 'programs/desktop',
    'kalosqm': 'programs/desktop',
    'kalo_service': 'programs/station',
    'kalosqm-station': 'programs/station',
    'kalosqm-cli': 'programs/cli',
}


def a_header_of(layer):
    return os.path.relpath(sorted(glob.glob(os.path.join(SOURCE, layer, '*.h')))[0], SOURCE)


def visible(root, header):
    probe = f'#if !__has_include("{header}")\n#error not found\n#endif\n'
    r = subprocess.run([COMPILER, '-fsyntax-only', '-x', 'c++', f'-iquote{root}', '-'], input=probe,
                       capture_output=True, text=True, cwd=BUILD)
    return r.returncode == 0


class IncludeRoots(unittest.TestCase):
    def test_each_target_finds_the_layers_below_it_and_no_other(self):
        rank_of = dict(check_layers.LAYERS)
        for target, mine in TARGETS.items():
            root = os.path.join(BUILD, 'include-roots', target)
            self.assertTrue(os.path.isdir(root), f'{target} has no include root of its own')
            for layer, rank in check_layers.LAYERS:
                header = a_header_of(layer)
                allowed = check_layers.may_use(mine, rank_of[mine], layer, rank) is None
                # Its own layer and the core it stands on it always needs; a
                # layer between may be left out (the station has no widgets).
                needed = layer == mine or (allowed and layer.startswith('core/'))
                with self.subTest(target=target, header=header):
                    seen = visible(root, header)
                    self.assertTrue(allowed or not seen, 'a layer above or beside is visible')
                    self.assertTrue(seen or not needed, 'a layer it needs is not visible')

    def test_the_probe_tells_a_found_header_from_a_missing_one(self):
        self.assertTrue(visible(SOURCE, a_header_of('gui')))
        self.assertFalse(visible(SOURCE, 'gui/no-such-header.h'))


if __name__ == '__main__':
    unittest.main()
