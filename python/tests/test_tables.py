"""One table of file types and error codes: the Python module, the qvtav
tool, the C++ layer, README and the man page give each code the wording of
include/qvtav_tables.h."""
import json
import os
import re
import shutil
import subprocess

import pytest

import qvtav
from conftest import SOURCE, out_dir

INCLUDE = os.path.join(SOURCE, "include")
UNKNOWN_CODES = (3, 0x80030004)


def defined_codes():
    """name: number of every error and status code the tables header defines,
    read from the #define lines alone (not from the table's rows)."""
    text = open(os.path.join(INCLUDE, "qvtav_tables.h")).read()
    found = re.findall(r"^#define\s+(TAV_E\w*|TAV_STG_\w+|TAV_S_\w+)\s+(0x[0-9A-Fa-f]+|\d+)u?\s*$", text, re.M)
    # TAV_S_FALSE shares TAV_EPERM's number and has no row of its own.
    return {name: int(value, 0) for name, value in found if name != "TAV_S_FALSE"}


def test_python_has_a_row_for_every_defined_code_and_the_tool_the_same_rows():
    assert {name: code for name, (code, _) in qvtav.ERRORS.items()} == defined_codes()
    assert qvtav.TAV_E_PAGE == 289 and qvtav.FILETYPE_XIFF == 13
    tool = subprocess.run([os.path.join(out_dir(), "qvtav"), "errors", "--json"], check=True,
                          capture_output=True, text=True).stdout
    assert json.loads(tool) == [{"code": code, "name": name, "meaning": meaning}
                                for name, (code, meaning) in qvtav.ERRORS.items()]
    unknown = subprocess.run([os.path.join(out_dir(), "qvtav"), "errors", "--json", str(UNKNOWN_CODES[0])],
                             capture_output=True, text=True)
    assert unknown.returncode == 1
    assert json.loads(unknown.stdout)[0]["meaning"] == qvtav.error_meaning(UNKNOWN_CODES[0])


CXX_PROGRAM = r"""
#include <cstdio>
#include <cstdlib>
#include "qvtav.hpp"
int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) std::printf("%s\n", qvtav::error_meaning(std::strtoul(argv[i], 0, 0)));
    for (uint32_t type = 0; type <= 14; ++type) std::printf("%s\n", qvtav::file_type_name(type));
}
"""


@pytest.mark.skipif(shutil.which("c++") is None, reason="needs a C++ compiler")
def test_the_cxx_layer_gives_python_s_meanings_and_type_names(tmp_path):
    source = tmp_path / "meanings.cpp"
    source.write_text(CXX_PROGRAM)
    subprocess.run(["c++", "-std=c++17", "-I", INCLUDE, "-o", str(tmp_path / "meanings"), str(source)], check=True)
    codes = [code for code, _ in qvtav.ERRORS.values()] + list(UNKNOWN_CODES)
    lines = subprocess.run([str(tmp_path / "meanings")] + [str(c) for c in codes], check=True,
                           capture_output=True, text=True).stdout.splitlines()
    assert lines == [qvtav.error_meaning(c) for c in codes] + [qvtav.type_name(t) for t in range(15)]
    assert qvtav.type_name(qvtav.FILETYPE_TGA) == "Targa" and qvtav.type_name(14) == "unknown type"


def test_readme_and_the_man_page_use_the_table_s_wording():
    readme = open(os.path.join(SOURCE, "README.md")).read()
    section = readme[readme.index("\n## Error codes"):]
    section = section[:section.index("\n## ", 1)]
    rows = re.findall(r"^\| (0x[0-9A-F]+|\d+) \| `(\w+)` \| (.*) \|$", section, re.M)
    assert [(name, (int(code, 0), meaning)) for code, name, meaning in rows] == list(qvtav.ERRORS.items())
    man = open(os.path.join(SOURCE, "man", "qvtav.3")).read()
    entries = re.findall(r'^\.BR (\d+) " \((\w+)\)"\n(.*)$', man, re.M)
    assert len(entries) >= 5
    for code, name, meaning in entries:
        assert qvtav.ERRORS[name] == (int(code), meaning)
