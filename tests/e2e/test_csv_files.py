"""File access as the whole tool shows it: a file-size limit, a file held by
another process, and a zero byte in a record."""
import unittest

import tarnsek
from tarnsek import TarnsekTestCase


class CsvFilesTest(TarnsekTestCase):
    def full(self, name):
        return self.canonical(name)

    @unittest.skipIf(tarnsek.WINDOWS, "a file-size limit is a Linux resource limit")
    def test_file_size_limit_is_a_write_error(self):
        import resource

        self.write("a.csv", b"".join(b"%06d,%s\r\n" % (i, b"x" * 90) for i in range(5000)))

        def limit_file_size():
            resource.setrlimit(resource.RLIMIT_FSIZE, (100000, resource.RLIM_INFINITY))

        result = self.run_tool("/M", "a.csv", "/O", "out.csv", "/K", "1",
                               preexec_fn=limit_file_size)
        self.assertFails(result, 1004, "[%s] (27) ファイルの書き込みに失敗しました." % self.full("out.csv"))
        self.assertEqual(len(self.read("out.csv")), 100000)

    def test_output_held_by_another_process_is_left_unchanged(self):
        self.write("a.csv", b"1\r\n")
        self.write("out.csv", b"held\r\n")
        with self.held("out.csv"):
            result = self.run_tool("/M", "a.csv", "/O", "out.csv", "/K", "1")
        self.assertFails(result, 1002, "[%s] (13) ファイルのオープンに失敗しました." % self.full("out.csv"))
        self.assertEqual(self.read("out.csv"), b"held\r\n")

    def test_zero_byte_is_an_invalid_sequence(self):
        self.write("a.csv", b"1\r\n2\r\n\x003\r\n")
        result = self.run_tool("/M", "a.csv", "/O", "out.csv", "/K", "1")
        self.assertFails(result, 2001, "[LINE:3] 不正なシーケンスです.")


if __name__ == "__main__":
    unittest.main()
