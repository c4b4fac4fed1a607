"""The parts of the bench (tests/bench/bench.py) that decide what a run reports: the pairing of
rounds, the document it rewrites, and the check of what the link pulled in."""

import os

import bench

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


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


def test_a_run_may_feed_several_series_and_its_warm_up_is_dropped_too():
    touch, write = bench.Series("touch", "ms"), bench.Series("write", "ms")
    values = iter([(1, 2), (3, 4), (5, 6)])

    def run():
        t, w = next(values)
        return [(touch, t), (write, w)]

    bench.alternate(2, (run, None))

    assert touch.values == [3, 5] and write.values == [4, 6]


def growth_row(package="400 MiB", size=419_430_400, alignment=4096, plain=(80, 90, 100),
               extract=(380, 390, 400), quiet=(900, 1000, 1100), peer=(700, 800, 900),
               limit=(140, 150, 160), check=(200, 250, 300), memory=None):
    def series(values):
        return bench.Series("x", "ms", list(values))
    return bench.GrowthRow(package, size, alignment, series(plain), series(extract),
                           series(quiet), series(peer), series(limit), series(check),
                           memory or {"/pi": 13.0, "/e": 14.0, "/q": 20.5})


def test_extraction_beyond_pi_is_taken_round_by_round():
    row = growth_row(plain=(80, 100, 90), extract=(400, 380, 420))
    assert row.writing.values == [320, 280, 330]
    assert row.writing.median == 320


def test_growth_cells_give_the_time_per_megabyte_only_for_large_packages():
    large = bench.Series("x", "ms", [24.0, 20.0, 30.0])
    assert bench.cell(large, 24_000_000) == "24.0 ms (20.0–30.0)<br>1.000 ms/MB"
    assert bench.cell(large, 4_608) == "24.0 ms (20.0–30.0)"
    assert bench.cell(bench.Series("x", "ms", [7.5]), 4_608) == "7.5 ms"


def test_growth_table_has_a_row_per_size_and_alignment_with_its_peak_memory():
    rows = [growth_row(alignment=512, memory={"/pi": 423.0, "/e": 424.5, "/q": 430.0}),
            growth_row()]
    lines = bench.growth_table(rows)
    assert len(lines) == 4 and all(line.count("|") == 10 for line in lines)
    assert lines[2].startswith("| 400 MiB | 512 | 90.0 ms (80.0–100.0)<br>0.215 ms/MB |")
    assert lines[2].endswith("| 423.0, 424.5, 430.0 MiB |")


def test_growth_goals_judge_the_largest_package_at_the_products_alignment():
    rows = [growth_row(alignment=512, quiet=(5000, 5000, 5000)), growth_row(),
            growth_row(package="24.6 MB", size=24_629_248, quiet=(9000, 9000, 9000))]
    quiet, memory, extract = bench.growth_goals(rows)
    assert quiet.met and quiet.result.startswith("1.25x copy")
    assert "read-back check 25% of /q" in quiet.result
    assert memory.met and memory.result == "13.0 MiB"
    assert extract.met and extract.result == "2.00x the write limit"

    slow = bench.growth_goals([growth_row(quiet=(1300, 1300, 1300),
                                          memory={"/pi": 40.0, "/e": 1, "/q": 1})])
    assert [f.met for f in slow] == [False, False, True]
