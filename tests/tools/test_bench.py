"""The parts of tools/bench.py that decide what a run reports: the pairing of rounds, the
document it rewrites, and the check of what the link pulled in."""

import os
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "tools"))

import bench  # noqa: E402


def test_rounds_alternate_and_the_warm_up_round_is_not_kept():
    order = []
    a, b = bench.Series("a", "ms"), bench.Series("b", "ms")
    counter = iter(range(100))

    def run(name):
        def measure():
            order.append(name)
            return next(counter)
        return measure

    bench.alternate(3, (run("A"), a), (run("B"), b))

    assert order == ["A", "B"] * 4
    assert a.values == [2, 4, 6] and b.values == [3, 5, 7]
    assert a.text(0) == "4 ms (2–6)"


def test_document_keeps_what_is_around_the_markers(tmp_path):
    page = tmp_path / "performance.md"
    page.write_text(f"# Title\nnotes before\n{bench.BEGIN}\nold figures\n{bench.END}\n"
                    "notes after\n", encoding="utf-8")

    for figures in ("first run", "second run"):
        bench.write_document(page, f"{bench.BEGIN}\n{figures}\n{bench.END}")

    assert page.read_text(encoding="utf-8") == (
        f"# Title\nnotes before\n{bench.BEGIN}\nsecond run\n{bench.END}\nnotes after\n")


def test_a_missing_document_is_created_with_the_figures(tmp_path):
    page = tmp_path / "performance.md"
    bench.write_document(page, f"{bench.BEGIN}\nfigures\n{bench.END}")
    assert f"{bench.BEGIN}\nfigures\n{bench.END}" in page.read_text(encoding="utf-8")


def test_heavy_runtime_counts_only_members_linked_in(tmp_path):
    lib = "/usr/lib/gcc/x86_64-w64-mingw32/12-win32/libstdc++.a"
    link_map = tmp_path / "servicepack.map"
    link_map.write_text(
        "Archive member included to satisfy reference by file (symbol)\n\n"
        f"{lib}(vterminate.o)  x.obj (std::terminate)\n"
        "Discarded input sections\n\n"
        f" .text  0x0  0x10 {lib}(ios_init.o)\n"
        "Linker script and memory map\n\n"
        f" .text  0x140001000  0x90c8 {lib}(cp-demangle.o)\n"
        f" .text  0x14000a0c8  0x40 {lib}(new_op.o)\n", encoding="utf-8")

    assert bench.heavy_runtime_members(link_map) == ["cp-demangle.o"]
