"""The README's Python section runs as written: its Python blocks and its shell command, in
order, in a scratch folder that holds the samples."""
import os
import re
import subprocess
import sys
from pathlib import Path

from conftest import SOURCE


def blocks():
    text = (SOURCE / "README.md").read_text()
    section = text.split("## Ramulon from Python", 1)[1].split("\n## ", 1)[0]
    return re.findall(r"^```(python|sh)\n(.*?)^```$", section, re.M | re.S)


def test_the_python_section_runs(cli, tmp_path):
    found = blocks()
    assert [kind for kind, _ in found].count("python") >= 3 and ("sh" in [kind for kind, _ in found])
    (tmp_path / "samples").symlink_to(SOURCE / "samples")
    env = dict(os.environ, PATH=f"{Path(cli).resolve().parent}{os.pathsep}{os.environ['PATH']}",
               PYTHONPATH=os.pathsep.join([str(SOURCE / "python")] + os.environ.get("PYTHONPATH", "").split(os.pathsep)))
    # Python blocks in a row run as one script (a later block uses what an earlier imported).
    segments = []
    for kind, code in found:
        if kind == "python" and segments and segments[-1][0] == "python":
            segments[-1] = ("python", segments[-1][1] + code)
        else:
            segments.append((kind, code))
    for number, (kind, code) in enumerate(segments):
        if kind == "sh":
            done = subprocess.run(code, shell=True, cwd=tmp_path, env=env, capture_output=True, text=True)
        else:
            script = tmp_path / f"readme{number}.py"
            script.write_text(code)
            done = subprocess.run([sys.executable, str(script)], cwd=tmp_path, env=env, capture_output=True, text=True)
        assert done.returncode == 0, f"{code}\n{done.stderr}"
    assert (tmp_path / "oak.glb").is_file() and (tmp_path / "trees" / "oak-4.png").is_file()
    assert (tmp_path / "trees" / "pine-9.obj").is_file()
