"""Sphinx configuration of the project's documentation (MyST Markdown pages).

Built with ``sphinx-build -W --keep-going -b html docs build/docs`` with the
built package importable (``PYTHONPATH=build/python``), so that the Python API
pages are made from the package's own docstrings.
"""

import re
from pathlib import Path

project = "landuse"
author = "Landuse developers"
copyright = "Landuse developers, GPL-3.0-or-later"
# The version of the CMake project, so the pages and the program never disagree.
_cmake = (Path(__file__).resolve().parent.parent / "CMakeLists.txt").read_text(encoding="utf-8")
release = version = re.search(r"project\(landuse VERSION ([0-9.]+)", _cmake).group(1)

extensions = ["myst_parser", "sphinx.ext.autodoc", "numpydoc"]
source_suffix = {".md": "markdown"}
master_doc = "index"
exclude_patterns = ["_build"]
myst_heading_anchors = 3

# Members are listed by autodoc; numpydoc only formats each docstring.
numpydoc_show_class_members = False
numpydoc_validation_checks = set()
autodoc_member_order = "bysource"
autodoc_default_options = {"members": True, "undoc-members": False, "show-inheritance": False}

html_theme = "alabaster"
html_title = f"landuse {release}"
html_static_path = []

# Docstrings written as plain text (not yet in numpydoc's sections) are shown as
# written: an indented example after a paragraph becomes a literal block (a list
# item's indented next line stays in its item), and a lone asterisk
# (``**controls``) is not taken for emphasis.
_SECTION_RULE = re.compile(r"^\s*-{3,}\s*$")


def _indent(line):
    return len(line) - len(line.lstrip())


def _escape(line):
    pieces = line.split("``")
    return "``".join(piece.replace("*", r"\*") if i % 2 == 0 else piece for i, piece in enumerate(pieces))


def plain_docstring_as_text(app, what, name, obj, options, lines):
    if any(_SECTION_RULE.match(line) for line in lines):
        return
    result, literal_indent, last_indent, bullet_indent = [], None, 0, None
    for line in lines:
        if not line.strip():
            result.append(line)
            continue
        indent = _indent(line)
        if literal_indent is not None and indent >= literal_indent:
            result.append(line)
            continue
        literal_indent = None
        if line.lstrip().startswith(("* ", "- ")):
            bullet_indent = indent + 2
        elif indent == bullet_indent:  # a list item's next line
            result.append(_escape(line))
            continue
        else:
            bullet_indent = None
        if indent > last_indent and result and not (result[-1].strip() or "").endswith("::"):
            while result and not result[-1].strip():
                result.pop()
            result += ["", "::", ""]
            literal_indent = indent
            result.append(line)
            continue
        last_indent = indent
        result.append(_escape(line))
    lines[:] = result


def setup(app):
    app.connect("autodoc-process-docstring", plain_docstring_as_text, priority=400)
