"""Reads what the release tests check in a Windows executable, independently of the programs
under test: the resources by type, name and language, and the certificate table entry."""
import struct


class PeFile:
    def __init__(self, path):
        self.data = open(path, "rb").read()
        d = self.data
        nt = struct.unpack_from("<I", d, 0x3C)[0]
        assert d[:2] == b"MZ" and d[nt:nt + 4] == b"PE\0\0", path
        sections, optional_size = struct.unpack_from("<H", d, nt + 6)[0], \
            struct.unpack_from("<H", d, nt + 20)[0]
        self.symbol_table = struct.unpack_from("<I", d, nt + 12)[0]
        optional = nt + 24
        directory = optional + (96 if struct.unpack_from("<H", d, optional)[0] == 0x10B else 112)
        self.entries = [struct.unpack_from("<II", d, directory + 8 * i) for i in range(16)]
        self.sections = [struct.unpack_from("<8sIIII", d, optional + optional_size + 40 * i)
                         for i in range(sections)]

    def offset(self, rva):
        for _, size, address, raw_size, raw in self.sections:
            if address <= rva < address + max(size, raw_size):
                return raw + rva - address
        raise ValueError(f"address {rva:#x} outside every section")

    def certificate_table(self):
        """(file offset, size) of the certificate table; (0, 0) when not signed."""
        return self.entries[4]

    def resources(self):
        """{(type, name, language): bytes} of every resource with numeric ids."""
        base = self.offset(self.entries[2][0])
        found = {}

        def walk(table, path):
            named, ids = struct.unpack_from("<HH", self.data, base + table + 12)
            for i in range(named + ids):
                ident, target = struct.unpack_from("<II", self.data, base + table + 16 + 8 * i)
                key = path + (ident,)
                if target & 0x80000000:
                    walk(target & 0x7FFFFFFF, key)
                else:
                    rva, size = struct.unpack_from("<II", self.data, base + target)
                    start = self.offset(rva)
                    found[key] = self.data[start:start + size]

        walk(0, ())
        return found

    def payload_variants(self):
        """{language: bytes} of resource type 260, name 134."""
        return {key[2]: data for key, data in self.resources().items() if key[:2] == (260, 134)}
