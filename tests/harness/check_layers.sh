#!/usr/bin/env bash
# Fails on an include that runs up a layer, or on a circle between units. The layers, lowest
# first: base and res; engine/core; framework, engine and launcher side by side, none including
# another; pages; app. Test programs (*_test.cpp) may use any layer. The class layer's classes
# (application, sheet, page) know each other and count as one unit there. The carry-over of the
# user's things (engine/carryover) is part of the engine; the rest of the program includes only
# its doors.
set -euo pipefail
cd "${1:-$(dirname "$(readlink -f "$0")")/../..}"
exec python3 - <<'PY'
import os, re, sys
allowed = {
    'base': {'base'}, 'res': {'res', 'base'},
    'engine/core': {'engine/core', 'base'},
    'engine/plan': {'engine/plan', 'base'},
    'framework': {'framework', 'base', 'res'},
    'engine': {'engine', 'engine/carryover', 'engine/plan', 'engine/core', 'base', 'res'},
    'engine/carryover': {'engine/carryover', 'engine/plan', 'engine', 'engine/core', 'base', 'res'},
    'launcher': {'launcher', 'base', 'res'},
    'pages': {'pages', 'engine', 'engine/carryover', 'engine/plan', 'engine/core', 'framework', 'base', 'res'},
    'app': {'app', 'pages', 'engine', 'engine/carryover', 'engine/plan', 'engine/core', 'framework', 'base', 'res'},
}
# The headers of engine/carryover that the rest of the program may include.
doors = {'engine/carryover/user_data_backup.h', 'engine/carryover/user_state.h'}
def layer(path):
    folder = os.path.dirname(path)
    return folder if folder in allowed else None
include = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)
# The decisions are plain C++ that the build machine compiles natively: no system header of Windows.
system_include = re.compile(r'^\s*#\s*include\s+<([^>]+)>', re.M)
plain_headers = {'cstddef', 'cstdint', 'cstring', 'new', 'type_traits', 'utility'}
faults, edges = [], {}
for folder in allowed:
    for name in sorted(os.listdir(folder)):
        if not name.endswith(('.cpp', '.h', '.rc')) or name.endswith('_test.cpp'):
            continue
        path = f'{folder}/{name}'
        unit = os.path.splitext(path)[0]
        text = open(path, encoding='utf-8', errors='replace').read()
        if folder == 'engine/plan':
            for header in system_include.findall(text):
                if header not in plain_headers:
                    faults.append(f'{path}: includes <{header}>; the decisions include no system header')
        for target in include.findall(text):
            to = layer(target)
            if to is None:
                continue
            if to not in allowed[folder]:
                faults.append(f'{path}: includes {target} ({to} is not below {folder})')
            elif to == 'engine/carryover' and folder != to and target not in doors:
                faults.append(f'{path}: includes {target}, which is not a door of {to}')
            other = os.path.splitext(target)[0]
            if other != unit and folder != 'framework':
                edges.setdefault(unit, set()).add(other)
def circle(start):
    stack, seen = [(start, [start])], set()
    while stack:
        node, trail = stack.pop()
        for nxt in sorted(edges.get(node, ())):
            if nxt == start:
                return trail + [start]
            if nxt not in seen:
                seen.add(nxt)
                stack.append((nxt, trail + [nxt]))
    return None
reported = set()
for unit in sorted(edges):
    found = circle(unit)
    if found and frozenset(found) not in reported:
        reported.add(frozenset(found))
        faults.append('circle: ' + ' -> '.join(found))
for fault in faults:
    print(fault)
print(f'layers: {len(faults)} faults')
sys.exit(1 if faults else 0)
PY
