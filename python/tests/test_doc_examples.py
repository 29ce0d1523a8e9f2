"""Every shell and Python example of README.md and docs/ runs, so none can go stale.

The fenced blocks of each page (```bash, ```sh, ```console, ```python) run in
page order in a scratch folder of their own, where `build`, `docs` and `scripts`
lead to the build tree and the sources, so that commands written for the
repository's root run as written. The built runner is on PATH and the built
package on PYTHONPATH, and `python3` is the interpreter the tests run under.

A line just before a block (a MyST comment or, in the README, an HTML comment)
changes what happens to it:

    % not run: <reason>       the block is shown, not run (listed by the test)
    % file: <name>            the block's text is written to <name> for later blocks
"""

import os
import re
import subprocess
import sys
from pathlib import Path

import pytest

SOURCE = Path(__file__).resolve().parents[2]
RUN_LANGUAGES = {"bash", "sh", "console", "python"}
FENCE = re.compile(r"^(`{3,})\s*([^`\s]*)[^`]*$")
MARKER = re.compile(r"^\s*(?:%|<!--)\s*(not run|file):\s*(.*?)\s*(?:-->)?\s*$")
BLOCK_SECONDS = 240


def pages():
    return [SOURCE / "README.md"] + sorted((SOURCE / "docs").rglob("*.md"))


def blocks(text):
    """The fenced blocks of a Markdown text, in order: (line, language, code, marker, argument)."""
    found, lines, i = [], text.split("\n"), 0
    while i < len(lines):
        fence = FENCE.match(lines[i])
        if not fence:
            i += 1
            continue
        ticks, language, start = fence.group(1), fence.group(2).lower(), i
        end = start + 1
        while end < len(lines) and not (lines[end].startswith(ticks) and not lines[end].strip("`").strip()):
            end += 1
        before = start - 1
        while before >= 0 and not lines[before].strip():
            before -= 1
        marker = MARKER.match(lines[before]) if before >= 0 else None
        code = "\n".join(lines[start + 1 : end]) + "\n"
        found.append((start + 1, language, code, marker and marker.group(1), marker and marker.group(2)))
        i = end + 1
    return found


def console_commands(code):
    """The commands of a console block: its lines after "$ ", with their "\\" continuations."""
    commands, current = [], None
    for line in code.splitlines():
        if current is not None:
            current.append(line)
        elif line.startswith("$ "):
            current = [line[2:]]
        if current is not None and not line.endswith("\\"):
            commands.append("\n".join(current))
            current = None
    return "\n".join(commands) + "\n"


def build_tree():
    runner = os.environ.get("LANDUSE_HEADLESS")
    if not runner:
        pytest.skip("LANDUSE_HEADLESS names no built runner")
    return Path(runner).resolve().parent.parent


def scratch_environment(folder, build):
    for name, target in (("build", build), ("docs", SOURCE / "docs"), ("scripts", SOURCE / "scripts")):
        (folder / name).symlink_to(target)
    environment = dict(os.environ)
    environment["PATH"] = os.pathsep.join(
        [str(build / "app"), str(Path(sys.executable).parent), environment.get("PATH", "")]
    )
    environment["PYTHONPATH"] = str(build / "python")
    environment["MPLBACKEND"] = "Agg"
    environment.pop("DISPLAY", None)
    environment.pop("WAYLAND_DISPLAY", None)
    return environment


def page_id(path):
    return str(path.relative_to(SOURCE))


@pytest.mark.parametrize("page", pages(), ids=page_id)
def test_page_examples_run(page, tmp_path):
    build = build_tree()
    environment = scratch_environment(tmp_path, build)
    for line, language, code, marker, argument in blocks(page.read_text(encoding="utf-8")):
        if marker == "file":
            (tmp_path / argument).write_text(code, encoding="utf-8")
            continue
        if marker == "not run" or language not in RUN_LANGUAGES:
            continue
        if language == "python":
            command = [sys.executable, "-c", code]
        else:
            script = console_commands(code) if language == "console" else code
            command = ["bash", "-e", "-o", "pipefail", "-c", script]
        done = subprocess.run(
            command, cwd=tmp_path, env=environment, capture_output=True, text=True, timeout=BLOCK_SECONDS
        )
        assert done.returncode == 0, (
            f"{page_id(page)}:{line}: the {language} block exited with "
            f"{done.returncode}\n--- stdout\n{done.stdout[-3000:]}\n"
            f"--- stderr\n{done.stderr[-3000:]}"
        )


def test_blocks_not_run_are_few_and_say_why(capsys):
    """Lists the examples that are shown but not run, each with its reason."""
    shown = []
    for page in pages():
        for line, language, _, marker, argument in blocks(page.read_text(encoding="utf-8")):
            if marker == "not run":
                assert language in RUN_LANGUAGES, f"{page_id(page)}:{line}: a {language} block needs no marker"
                assert argument, f"{page_id(page)}:{line}: 'not run' without a reason"
                shown.append(f"{page_id(page)}:{line} ({language}): {argument}")
            if marker == "file":
                assert argument and "/" not in argument, f"{page_id(page)}:{line}: a file name of its own"
    with capsys.disabled():
        print(f"\n{len(shown)} examples not run:\n  " + "\n  ".join(shown))
    run = sum(
        1
        for page in pages()
        for b in blocks(page.read_text(encoding="utf-8"))
        if b[1] in RUN_LANGUAGES and b[3] is None
    )
    assert run > 2 * len(shown), f"{run} examples run against {len(shown)} not run"


@pytest.mark.parametrize(
    "text, expected",
    [
        # A block with no marker runs; its language is the fence's first word.
        ("```bash\necho hi\n```\n", [(1, "bash", "echo hi\n", None, None)]),
        ("```python extra words\nx = 1\n```\n", [(1, "python", "x = 1\n", None, None)]),
        # The marker applies across blank lines to the next block only.
        (
            "% not run: needs a display\n\n```bash\nlanduse\n```\n```sh\nls\n```\n",
            [(3, "bash", "landuse\n", "not run", "needs a display"), (6, "sh", "ls\n", None, None)],
        ),
        (
            "<!-- not run: takes 20 minutes -->\n```bash\nscripts/test.sh\n```\n",
            [(2, "bash", "scripts/test.sh\n", "not run", "takes 20 minutes")],
        ),
        ("% file: SWEEP.toml\n```toml\nsteps = 5\n```\n", [(2, "toml", "steps = 5\n", "file", "SWEEP.toml")]),
        # A longer fence holds a shorter one; a marker further up is no marker.
        ("````markdown\n```bash\nx\n```\n````\n", [(1, "markdown", "```bash\nx\n```\n", None, None)]),
        ("% not run: far\ntext\n```bash\nx\n```\n", [(3, "bash", "x\n", None, None)]),
    ],
)
def test_blocks_are_found_with_their_markers(text, expected):
    assert blocks(text) == expected


def test_console_blocks_run_their_commands_only():
    code = "$ landuse-headless --steps 2 \\\n    --set E_crAgs=5\nstep,agents\n$ echo done\ndone\n"
    assert console_commands(code) == "landuse-headless --steps 2 \\\n    --set E_crAgs=5\necho done\n"
