import io
import os
import shutil
import struct
import subprocess
import sys

import olefile
import pytest

import cfb
import make_msp

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
TOOLS = os.path.join(ROOT, "tools")


SUMMARY = "\x05SummaryInformation"
SAMPLE_ARGS = dict(
    transform_per_product=True,
    upgrade_code="{8E4C2B19-5A73-4D6F-B1E8-2C9A7F3D0E64}",
    from_version="15.0.106.0",
    to_version="15.0.205.0",
)


def ole(blob):
    return olefile.OleFileIO(io.BytesIO(blob))


def decoded_paths(f):
    return sorted("/".join(make_msp.decode_stream_name(p) for p in path) for path in f.listdir(streams=True, storages=True))


def read_string_table(f, prefix=""):
    pool = f.openstream(prefix + make_msp.encode_stream_name("_StringPool")).read()
    data = f.openstream(prefix + make_msp.encode_stream_name("_StringData")).read()
    codepage = struct.unpack_from("<I", pool)[0]
    strings, offset = [], 0
    for i in range(4, len(pool), 4):
        length, refs = struct.unpack_from("<HH", pool, i)
        strings.append(data[offset : offset + length].decode("cp1252"))
        offset += length
    assert offset == len(data)
    return codepage, strings


class TestPatchPackage:
    def test_sample_layout_and_summary(self):
        f = ole(make_msp.build(**SAMPLE_ARGS))
        assert f.root.clsid == "000C1086-0000-0000-C000-000000000046"
        transforms = ["T1", "T2", "T3"]
        for name in transforms:
            assert f.getclsid(name) == "000C1082-0000-0000-C000-000000000046"
        assert decoded_paths(f) == sorted(
            [SUMMARY, "!_StringPool", "!_StringData"]
            + [f"{name}{part}" for name in transforms
               for part in ("", "/" + SUMMARY, "/!_StringPool", "/!_StringData", "/!Property")]
        )
        props = f.getproperties(SUMMARY)
        assert props[1] == 1252
        assert props[5] == b"15.0.205.0;15.0.106.0,"
        assert props[7] == make_msp.DEFAULT_TEMPLATE.encode()
        assert b"{3F2A8C41-7B5D-4E19-A6C2-9D0E1B7F4A53}" in props[7]
        assert props[8] == b":T1;:T2;:T3"
        assert props[9] == b"{C7D14E2A-96B3-4F58-8A0D-3E5B2F1C7A96}"
        assert props[2] and props[3] and props[4] and props[14] and props[15]

    def test_one_transform_per_product_in_template_order(self):
        f = ole(make_msp.build(**SAMPLE_ARGS))
        codes = make_msp.DEFAULT_TEMPLATE.split(";")
        for number, code in enumerate(codes, 1):
            description = f.getproperties(f"T{number}/" + SUMMARY)[9].decode()
            assert description.startswith(f"{code}15.0.106.0;{code}15.0.205.0;")

    def test_transform_summary_and_property_delta(self):
        f = ole(make_msp.build(**SAMPLE_ARGS))
        props = f.getproperties("T2/" + SUMMARY)
        assert props[9] == (
            b"{3F2A8C41-7B5D-4E19-A6C2-9D0E1B7F4A53}15.0.106.0;"
            b"{3F2A8C41-7B5D-4E19-A6C2-9D0E1B7F4A53}15.0.205.0;"
            b"{8E4C2B19-5A73-4D6F-B1E8-2C9A7F3D0E64}"
        )
        # Validation in the high word (product, update version, equal, upgrade code); the low
        # word, which Wine reads as validation, asks for the product code alone.
        assert props[16] == 0x09220002
        assert 7 in props
        codepage, strings = read_string_table(f, "T2/")
        assert codepage == 1252
        delta = f.openstream("T2/" + make_msp.encode_stream_name("Property")).read()
        mask, key, value = struct.unpack("<HHH", delta)
        assert mask & 1 and mask >> 8 == 2  # a full row of both Property columns
        assert (strings[key - 1], strings[value - 1]) == ("ProductVersion", "15.0.205.0")

    def test_transform_list_can_name_what_is_not_there(self):
        f = ole(make_msp.build(transform=True, listed=":T1;:T2"))
        assert f.getproperties(SUMMARY)[8] == b":T1;:T2"
        assert f.exists("T1") and not f.exists("T2")

    def test_root_string_table_present_and_empty(self):
        for blob in (make_msp.build(), make_msp.build(**SAMPLE_ARGS)):
            codepage, strings = read_string_table(ole(blob))
            assert strings == []

    def test_without_transform_lists_none(self):
        f = ole(make_msp.build())
        assert f.getproperties(SUMMARY)[8] == b""
        assert not f.exists("T1")

    @pytest.mark.parametrize(
        "keywords", ["15.0.205.0", ";15.0.106.0,", "15,0,205,0;15.0.106.0,;x", "15.0.205.0;"]
    )
    def test_keywords_stored_verbatim(self, keywords):
        assert ole(make_msp.build(keywords=keywords)).getproperties(SUMMARY)[5] == keywords.encode()

    def test_keywords_can_be_left_out(self):
        assert 5 not in ole(make_msp.build(keywords=None)).getproperties(SUMMARY)

    def test_long_template_kept_whole(self):
        codes = [f"{{{i:08X}-0000-4000-8000-{i:012X}}}" for i in range(60)]
        template = ";".join(codes[:30] + [make_msp.SAMPLE_PRODUCT_CODE] + codes[30:])
        assert len(template) > 2048
        assert ole(make_msp.build(template=template)).getproperties(SUMMARY)[7] == template.encode()

    def test_not_compound(self):
        blob = make_msp.build(not_compound=True)
        assert not olefile.isOleFile(io.BytesIO(blob))
        assert len(make_msp.build(not_compound=True, pad_to=4096)) == 4096

    def test_pad_to_exact_size_and_still_readable(self):
        size = 24629248
        blob = make_msp.build(pad_to=size, **SAMPLE_ARGS)
        assert len(blob) == size
        f = ole(blob)
        assert f.getproperties(SUMMARY)[9] == b"{C7D14E2A-96B3-4F58-8A0D-3E5B2F1C7A96}"
        assert f.getproperties("T1/" + SUMMARY)[16] == make_msp.TRANSFORM_CONDITIONS

    @pytest.mark.parametrize("size", [5000, 1024])
    def test_pad_to_rejects_impossible_sizes(self, size):
        with pytest.raises(make_msp.PackageError):
            make_msp.build(pad_to=size, **SAMPLE_ARGS)

    def test_deterministic(self):
        assert make_msp.build(**SAMPLE_ARGS) == make_msp.build(**SAMPLE_ARGS)
        assert make_msp.build(pad_to=1 << 20) == make_msp.build(pad_to=1 << 20)

    def test_committed_sample_matches_generator(self):
        with open(os.path.join(ROOT, "resources", "sample.msp"), "rb") as fh:
            assert fh.read() == make_msp.build(**SAMPLE_ARGS)


class TestStreamNames:
    def test_round_trip(self):
        for name in ["Property", "_StringPool", "_StringData", "a", "File.Name_1", "x-y"]:
            encoded = make_msp.encode_stream_name(name)
            assert encoded[0] == "\u4840"
            assert make_msp.decode_stream_name(encoded) == "!" + name
        assert len(make_msp.encode_stream_name("Property")) == 1 + 4
        assert len(make_msp.encode_stream_name("_StringPool")) == 1 + 6  # five pairs and a single

    @pytest.mark.skipif(not shutil.which("wixl"), reason="wixl not installed")
    def test_matches_names_written_by_an_independent_msi_writer(self, tmp_path):
        wxs = tmp_path / "p.wxs"
        (tmp_path / "f.txt").write_text("x")
        wxs.write_text(
            '<?xml version="1.0"?><Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">'
            '<Product Id="{3F2A8C41-7B5D-4E19-A6C2-9D0E1B7F4A53}" Name="n" Version="1.0.0" Manufacturer="m"'
            ' UpgradeCode="{8E4C2B19-5A73-4D6F-B1E8-2C9A7F3D0E64}" Language="1033">'
            '<Package InstallerVersion="200" Compressed="yes"/><Media Id="1" Cabinet="c.cab" EmbedCab="yes"/>'
            '<Directory Id="TARGETDIR" Name="SourceDir"><Directory Id="INSTALLDIR" Name="n">'
            '<Component Id="C" Guid="{6A1B2C3D-4E5F-4061-8273-94A5B6C7D8E9}"><File Id="f" Source="f.txt"/>'
            '</Component></Directory></Directory><Feature Id="F" Level="1"><ComponentRef Id="C"/></Feature>'
            "</Product></Wix>"
        )
        subprocess.run(["wixl", "-o", str(tmp_path / "p.msi"), str(wxs)], cwd=tmp_path, check=True, capture_output=True)
        names = {p[0] for p in olefile.OleFileIO(str(tmp_path / "p.msi")).listdir()}
        for table in ["Property", "_StringPool", "_StringData", "File", "Component"]:
            assert make_msp.encode_stream_name(table) in names


class TestCompoundFile:
    @staticmethod
    def check_tree(entries, sid):
        """Returns (black height, in-order names) of the sibling tree at sid."""
        if sid == cfb.NOSTREAM:
            return 1, []
        e = entries[sid]
        lh, lnames = TestCompoundFile.check_tree(entries, e.sid_left)
        rh, rnames = TestCompoundFile.check_tree(entries, e.sid_right)
        assert lh == rh, "unequal black heights"
        if e.color == cfb.RED:
            for child in (e.sid_left, e.sid_right):
                assert child == cfb.NOSTREAM or entries[child].color == cfb.BLACK, "red node with red child"
        return lh + (e.color == cfb.BLACK), lnames + [e.name] + rnames

    @pytest.mark.parametrize("count", [1, 2, 3, 7, 8, 20, 64])
    def test_sibling_trees_are_ordered_red_black_trees(self, count):
        root = cfb.Storage("Root Entry")
        names = [f"s{i}" * (1 + i % 3) for i in range(count)]
        for n in names:
            root.add(cfb.Stream(n, n.encode()))
        f = ole(cfb.write(root))
        entries = f.direntries
        assert entries[f.root.sid_child].color == cfb.BLACK
        _, inorder = self.check_tree(entries, f.root.sid_child)
        assert inorder == sorted(names, key=cfb.name_key)
        for n in names:
            assert f.openstream(n).read() == n.encode()

    def test_mixed_stream_sizes_and_nested_storages(self):
        sizes = [0, 1, 63, 64, 65, 4095, 4096, 4097, 70000]
        root = cfb.Storage("Root Entry", "{000C1086-0000-0000-C000-000000000046}")
        sub = root.add(cfb.Storage("sub", "{000C1082-0000-0000-C000-000000000046}"))
        deeper = sub.add(cfb.Storage("deeper"))
        for i, size in enumerate(sizes):
            data = bytes((i * 7 + j) & 0xFF for j in range(size))
            root.add(cfb.Stream(f"r{i}", data))
            deeper.add(cfb.Stream(f"d{i}", data[::-1]))
        f = ole(cfb.write(root))
        for i, size in enumerate(sizes):
            data = bytes((i * 7 + j) & 0xFF for j in range(size))
            assert f.openstream(f"r{i}").read() == data
            assert f.openstream(f"sub/deeper/d{i}").read() == data[::-1]
        assert f.getclsid("sub") == "000C1082-0000-0000-C000-000000000046"

    def test_large_file_needs_difat_sectors(self):
        # Over 109 FAT sectors: the FAT no longer fits the header's DIFAT array.
        root = cfb.Storage("Root Entry")
        root.add(cfb.Stream("big", bytes(range(256)) * 40000))
        blob = cfb.write(root, 200 * 128 * 512)
        f = ole(blob)
        assert struct.unpack_from("<I", blob, 0x48)[0] > 0  # DIFAT sector count
        assert f.openstream("big").read() == bytes(range(256)) * 40000

    @pytest.mark.parametrize("bad", ["", "a" * 32, "a/b", "a!b"])
    def test_rejects_bad_names(self, bad):
        root = cfb.Storage("Root Entry")
        root.add(cfb.Stream(bad, b""))
        with pytest.raises(cfb.CfbError):
            cfb.write(root)

    def test_rejects_names_equal_ignoring_case(self):
        root = cfb.Storage("Root Entry")
        root.add(cfb.Stream("Abc", b""))
        root.add(cfb.Stream("aBC", b""))
        with pytest.raises(cfb.CfbError):
            cfb.write(root)


class TestCommandLine:
    def run(self, *args):
        return subprocess.run([sys.executable, os.path.join(TOOLS, "make_msp.py"), *args], capture_output=True, text=True)

    def test_options_reach_the_package(self, tmp_path):
        out = tmp_path / "x.msp"
        r = self.run("-o", str(out), "--template", "{A};{B}", "--keywords", "2.0;1.0,",
                     "--patch-code", "{C7D14E2A-0000-0000-0000-000000000000}", "--transform",
                     "--to-version", "9.9.9.9", "--pad-to", "65536")
        assert r.returncode == 0, r.stderr
        blob = out.read_bytes()
        assert blob == make_msp.build(template="{A};{B}", keywords="2.0;1.0,", transform=True,
                                      patch_code="{C7D14E2A-0000-0000-0000-000000000000}",
                                      to_version="9.9.9.9", pad_to=65536)
        props = ole(blob).getproperties(SUMMARY)
        assert (props[5], props[7], props[8]) == (b"2.0;1.0,", b"{A};{B}", b":T1")

    def test_transform_per_product_option(self, tmp_path):
        out = tmp_path / "x.msp"
        r = self.run("-o", str(out), "--template", "{A};{B}", "--transform-per-product", "--from-version", "1.0")
        assert r.returncode == 0, r.stderr
        assert out.read_bytes() == make_msp.build(template="{A};{B}", transform_per_product=True, from_version="1.0")
        f = olefile.OleFileIO(str(out))
        assert f.getproperties(SUMMARY)[8] == b":T1;:T2"
        assert f.getproperties("T2/" + SUMMARY)[9].startswith(b"{B}1.0;{B}15.0.205.0;")

    def test_no_keywords_and_not_compound(self, tmp_path):
        assert self.run("-o", str(tmp_path / "a"), "--no-keywords").returncode == 0
        assert 5 not in olefile.OleFileIO(str(tmp_path / "a")).getproperties(SUMMARY)
        assert self.run("-o", str(tmp_path / "b"), "--not-compound").returncode == 0
        assert not olefile.isOleFile(str(tmp_path / "b"))

    def test_bad_pad_size_is_an_error(self, tmp_path):
        r = self.run("-o", str(tmp_path / "c"), "--pad-to", "1000")
        assert r.returncode != 0 and "512" in r.stderr
        assert not (tmp_path / "c").exists()
