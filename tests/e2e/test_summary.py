"""The summary readers against Wine's real installer service, through summary_probe.exe.

The packages are generated here with make_msp (keywords and template variants); the readers
must give what the unit tests give against the fake installer: the text before the first
';' as the upgrade version, everything after it unchanged, 4316 for keywords without a usable
';', and a template of any length read whole.
"""

from __future__ import annotations

import pytest

import harness
import make_msp

PACKAGES = r"C:\packages"
UNUSABLE_KEYWORDS = 4316

SAMPLE_CODE = "{3F2A8C41-7B5D-4E19-A6C2-9D0E1B7F4A53}"


def many_codes(count: int) -> str:
    return ";".join(f"{{{i:08X}-7B5D-4E19-A6C2-9D0E1B7F4A53}}" for i in range(count))


def place(prefix, name: str, **build_args) -> str:
    """Writes a generated package into the prefix and gives its Windows path."""
    folder = prefix.c_path(PACKAGES)
    folder.mkdir(exist_ok=True)
    (folder / name).write_bytes(make_msp.build(**build_args))
    return f"{PACKAGES}\\{name}"


def probe(prefix, summary_probe, *args, cwd=None) -> dict[str, list[str]]:
    result = prefix.run(summary_probe, *args, cwd=cwd)
    assert result.exit_code == 0, result.output
    return harness.output_fields(result.output)


def one(fields, key) -> str:
    assert len(fields[key]) == 1, fields
    return fields[key][0]


@pytest.mark.parametrize("keywords, upgrade, accepted", [
    ("15.0.205.0;15.0.106.0,", "15.0.205.0", "15.0.106.0,"),
    ("15.0.205.0;", "15.0.205.0", ""),
    ("15.0.205.0;15.0.106.0,;15.0.107.0,", "15.0.205.0", "15.0.106.0,;15.0.107.0,"),
    ("15,0,205,0;15.0.106.0,15.0.107.0,", "15,0,205,0", "15.0.106.0,15.0.107.0,"),
], ids=["sample", "ends-in-semicolon", "two-semicolons", "comma-upgrade"])
def test_keywords_split_at_the_first_semicolon(shared_prefix, summary_probe, request, keywords,
                                               upgrade, accepted):
    path = place(shared_prefix, f"{request.node.callspec.id}.msp", keywords=keywords)
    fields = probe(shared_prefix, summary_probe, "versions", path)
    assert one(fields, "ok") == "1"
    assert one(fields, "upgrade") == upgrade
    assert one(fields, "accepted") == accepted


@pytest.mark.parametrize("keywords", ["15.0.205.0", ";15.0.106.0,", None],
                         ids=["no-semicolon", "leading-semicolon", "missing"])
def test_unusable_keywords_fail_with_4316(shared_prefix, summary_probe, request, keywords):
    path = place(shared_prefix, f"{request.node.callspec.id}.msp", keywords=keywords)
    fields = probe(shared_prefix, summary_probe, "versions", path)
    assert one(fields, "ok") == "0"
    assert one(fields, "last_error") == str(UNUSABLE_KEYWORDS)
    assert one(fields, "upgrade") == "" and one(fields, "accepted") == ""


@pytest.mark.parametrize("length", [2047, 2048, 2500])
def test_template_of_any_length_is_read_whole(shared_prefix, summary_probe, length):
    # 2,048 characters and more do not fit the first buffer: the service answers 234 and
    # the reader retries once with the length it reported.
    template = many_codes(70)[:length]
    path = place(shared_prefix, f"long-{length}.msp", template=template)
    fields = probe(shared_prefix, summary_probe, "codes", path)
    assert one(fields, "ok") == "1"
    assert one(fields, "value") == template


def test_sample_package_and_a_relative_path(shared_prefix, summary_probe, sample_package,
                                            sample_summary):
    folder = shared_prefix.c_path(PACKAGES)
    folder.mkdir(exist_ok=True)
    (folder / "sample copy.msp").write_bytes(sample_package.read_bytes())
    template, keywords = sample_summary

    fields = probe(shared_prefix, summary_probe, "codes", "sample copy.msp", cwd=PACKAGES)
    assert one(fields, "ok") == "1"
    assert one(fields, "value") == template

    fields = probe(shared_prefix, summary_probe, "versions", harness.to_windows(sample_package))
    assert one(fields, "ok") == "1"
    assert one(fields, "upgrade") + ";" + one(fields, "accepted") == keywords


@pytest.mark.parametrize("kind", ["missing", "not-compound"])
def test_unreadable_packages_read_nothing(shared_prefix, summary_probe, kind):
    if kind == "missing":
        path = PACKAGES + r"\does-not-exist.msp"
    else:
        path = place(shared_prefix, "not-compound.msp", not_compound=True)
    for command in ("codes", "versions"):
        fields = probe(shared_prefix, summary_probe, command, path)
        assert one(fields, "ok") == "0"
        assert one(fields, "last_error") != str(UNUSABLE_KEYWORDS)
        assert all(v == [""] for k, v in fields.items() if k in ("value", "upgrade", "accepted"))
