"""The largest sort (19 chunks of 65536 records) under bounded resources: an
address-space limit that only chunk-bounded memory fits in, file-size limits
that make a run file or the output fail, and two runs writing one output."""
import bisect
import collections
import errno
import hashlib
import os
import random
import resource
import shutil
import subprocess
import tempfile
import unittest

import tarnsek
from tarnsek import closed, merge_written, opened, sj
from test_sort import MERGE_FINISHED, MERGE_STARTED, SORT_FINISHED, SortTestCase, loaded

CHUNK = 65536
RUNS = 19
TOTAL = CHUNK * RUNS  # 1,245,184: the most records a sort takes

# The address space the largest sort is given. The input below is 133 MiB
# (1,245,184 records of 112 bytes on average). The tool peaks at 54 MiB of
# address space and 51 MiB resident (one chunk of 65536 records, its file
# buffers and the program itself) and fails cleanly, with 1001, at 52 MiB.
# A sort that held the whole input would need more than the input's 133 MiB
# for the texts alone, and over 600 MiB with a record of 64 field slots per
# line. 72 MiB is about half the input and leaves room for another allocator
# or compiler.
ADDRESS_SPACE = 72 << 20


def _built_with_asan():
    try:
        with open(tarnsek.BIN, "rb") as f:
            return b"__asan_init" in f.read()
    except OSError:
        return False


ASAN = _built_with_asan()


def write_failed(path):
    # A file-size limit makes the write fail with EFBIG once the file is full.
    return "[%s] (%d) ファイルの書き込みに失敗しました." % (path, errno.EFBIG)


def open_failed(path, number):
    return "[%s] (%d) ファイルのオープンに失敗しました." % (path, number)


def key(record):
    """Sort key 1: a customer code of 6 bytes, never quoted. Being of fixed
    width, it also orders whole records when they are sorted as bytes."""
    return record[:6]


def keys(records):
    return [r[:6] for r in records]


def make_chunks():
    """19 chunks of 65536 records (without line ends): 20000 customer codes,
    so about 62 records share each key; quoted fields with commas and doubled
    quotes; Shift_JIS texts, some with a trail byte 0x5C. The memo grows with
    the chunk's number, by 24 bytes a chunk up to chunk 3 (so that the fourth
    run file is 1.5 MB larger than the third) and by 4 bytes a chunk after."""
    rng = random.Random(20240509)
    names = [sj('"北海道物産,本社"'), sj("ｶﾀｶﾅ商店"), sj("表示ソフト販売"),
             sj('"ABC""ｸﾞﾙｰﾌﾟ"""'), sj("山田商事")]
    places = [sj("東京都千代田区丸の内1-2-3"), sj('"大阪府大阪市北区,梅田2丁目"'),
              sj("能登町字十"), sj("")]
    chunks = []
    for k in range(RUNS):
        memo = sj("メモ") + b"x" * (24 * k if k <= 3 else 4 * k)
        codes = rng.choices(range(20000), k=CHUNK)
        chunks.append([b"C%05d,%s,%d,2024/%02d/%02d %02d:%02d:00,%s,%s" % (
            c, names[c % 5], (i * 7919 + c * 104729) % 1000000, c % 12 + 1, c % 28 + 1,
            i % 24, i % 60, places[(i + c) % 4], memo) for i, c in enumerate(codes)])
    return chunks


def joined(records):
    return b"\r\n".join(records) + b"\r\n" if records else b""


@unittest.skipIf(getattr(tarnsek, "WINDOWS", False), "resource limits and flock are Linux's")
class ResourcesTest(SortTestCase):
    @classmethod
    def setUpClass(cls):
        cls.data_dir = tempfile.mkdtemp(prefix="tarnsek-resources-")
        cls.addClassCleanup(shutil.rmtree, cls.data_dir, True)
        cls.chunks = make_chunks()
        cls.chunk_sizes = []
        digest = hashlib.sha256()
        cls.input_path = os.path.join(cls.data_dir, "in.csv")
        with open(cls.input_path, "wb") as f:
            for chunk in cls.chunks:
                data = joined(chunk)
                cls.chunk_sizes.append(len(data))
                digest.update(data)
                f.write(data)
        cls.input_digest = digest.digest()
        cls.records = [r for chunk in cls.chunks for r in chunk]
        cls.sorted_records = sorted(cls.records)

    def sort_big(self, limit, value):
        """Sorts the large input on key 1 into out.csv, with the resource
        limit set in the child alone."""
        def set_limit():
            resource.setrlimit(limit, (value, value))
        return self.run_tool("/I", self.input_path, "/O", "out.csv", "/K", "1", "/W", self.work,
                             preexec_fn=set_limit)

    def assertInputUnchanged(self):
        with open(self.input_path, "rb") as f:
            self.assertEqual(hashlib.sha256(f.read()).digest(), self.input_digest,
                             "the input was changed")

    def records_of(self, data):
        """The records of a file that ends with CR LF, and the bytes after
        the last CR LF."""
        end = data.rfind(b"\r\n") + 2
        return data[:end].split(b"\r\n")[:-1], data[end:]

    def assertSortedFrom(self, data, ordered):
        """data holds the records of ordered (sorted as bytes), each once, in
        key order; the order within equal keys is left open."""
        got, rest = self.records_of(data)
        self.assertEqual(rest, b"")
        self.assertEqual(len(got), len(ordered))
        self.assertTrue(keys(got) == keys(ordered), "not in key order")
        self.assertTrue(sorted(got) == ordered, "not the same records")

    def assertSortedPrefix(self, data, ordered):
        """data is a cut of the records of ordered (sorted as bytes) in key
        order: its complete records are the smallest under the key, and the
        bytes after them begin one of the records left."""
        got, rest = self.records_of(data)
        count = len(got)
        self.assertLess(count, len(ordered))
        self.assertTrue(keys(got) == keys(ordered[:count]),
                        "not the smallest records in key order")
        # The records that may stand up to the cut: every one whose key is at
        # most the key of the record that was cut.
        pool = ordered[:bisect.bisect_left(ordered, key(ordered[count]) + b"\xff")]
        left = collections.Counter(pool)
        left.subtract(got)
        self.assertGreaterEqual(min(left.values()), 0, "a record that is not in the input")
        self.assertTrue(any(r.startswith(rest) for r, n in left.items() if n > 0),
                        "the bytes after the last record begin no record left")

    def work_files(self):
        return sorted(os.path.join(os.path.realpath(self.work), n) for n in os.listdir(self.work))

    @unittest.skipIf(ASAN, "AddressSanitizer reserves terabytes of address space, "
                           "so an address-space limit cannot be set")
    def test_largest_sort_within_a_fixed_address_space(self):
        result = self.sort_big(resource.RLIMIT_AS, ADDRESS_SPACE)
        self.assertSucceeds(result)
        self.assertEqual(len(self.run_files(result)), RUNS)
        self.assertEqual([t for t in result.texts if "ロードしました" in t],
                         [loaded(CHUNK)] * RUNS + [loaded(0)])
        self.assertIn(merge_written(TOTAL), result.texts)
        self.assertEqual(result.texts[-1], SORT_FINISHED)
        self.assertSortedFrom(self.read("out.csv"), self.sorted_records)
        self.assertEqual(os.listdir(self.work), [])
        self.assertInputUnchanged()

    def test_run_file_beyond_the_file_size_limit(self):
        # Room for the first three run files; the fourth fails while its
        # records are written, 1 MB short of its end.
        sizes = self.chunk_sizes
        limit = max(sizes[:3]) + (256 << 10)
        self.assertLess(limit + (1 << 20), sizes[3])
        result = self.sort_big(resource.RLIMIT_FSIZE, limit)

        runs = self.run_files(result)
        self.assertEqual(len(runs), 4)
        self.assertFails(result, 1004, write_failed(runs[3]))
        self.assertEqual(result.texts[-3:-1], [loaded(CHUNK), opened(runs[3])])
        # Nothing is rolled back: the three run files written stay complete,
        # the fourth holds what fitted, and no output was opened.
        self.assertEqual(self.work_files(), sorted(runs))
        for k in range(3):
            with open(runs[k], "rb") as f:
                self.assertSortedFrom(f.read(), sorted(self.chunks[k]))
        with open(runs[3], "rb") as f:
            cut = f.read()
        self.assertEqual(len(cut), limit)
        self.assertSortedPrefix(cut, sorted(self.chunks[3]))
        self.assertFalse(os.path.exists(self.path("out.csv")))
        self.assertInputUnchanged()

    def test_output_beyond_the_file_size_limit(self):
        # Every run file fits; the output, 19 times as large, does not.
        limit = max(self.chunk_sizes) + (1 << 20)
        result = self.sort_big(resource.RLIMIT_FSIZE, limit)

        runs = self.run_files(result)
        self.assertEqual(len(runs), RUNS)
        out = self.full("out.csv")
        self.assertFails(result, 1004, write_failed(out))
        # The output failed before any run file was read to its end.
        self.assertEqual(result.texts[-RUNS - 4:],
                         [closed(os.path.realpath(self.input_path)), MERGE_STARTED, opened(out)]
                         + [opened(r) for r in runs] + [write_failed(out)])
        # The run files are left whole, none deleted; the output holds the
        # first records of the merge, up to the limit.
        self.assertEqual(self.work_files(), sorted(runs))
        for k, run in enumerate(runs):
            with open(run, "rb") as f:
                self.assertSortedFrom(f.read(), sorted(self.chunks[k]))
        cut = self.read("out.csv")
        self.assertEqual(len(cut), limit)
        self.assertSortedPrefix(cut, self.sorted_records)
        self.assertInputUnchanged()

    def test_merge_of_nineteen_files_under_a_low_descriptor_limit(self):
        # A 19-file merge holds 23 files open, the standard streams included.
        # A soft limit below that is raised towards the hard one; where the
        # hard limit is as low, the open that fails ends the run with 24 and
        # yesterday's output is left whole.
        names = ["m%02d.csv" % k for k in range(RUNS)]
        for k, name in enumerate(names):
            self.write(name, b"".join(b"%06d,%d\r\n" % (n, k) for n in range(k, 19 * 5, 19)))
        merged = b"".join(b"%06d,%d\r\n" % (n, n % 19) for n in range(19 * 5))
        old = b"yesterday\r\n"
        _, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
        for limits in [(8, hard), (8, 8)]:
            with self.subTest(limits=limits):
                self.write("out.csv", old)
                result = self.run_tool("/M", "|".join(names), "/O", "out.csv", "/K", "1",
                                       preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_NOFILE, limits))
                if limits[1] >= 23:
                    self.assertSucceeds(result)
                    self.assertEqual(self.read("out.csv"), merged)
                else:
                    # The output and four inputs fit beside the standard streams.
                    self.assertFails(result, 1002, open_failed(self.full("m04.csv"), errno.EMFILE))
                    self.assertEqual(self.read("out.csv"), old)

    def test_second_writer_of_one_output_is_refused(self):
        # Two inputs in key order: the records of the sorted input taken in
        # turn. Among equal keys the merge writes the second file's records
        # first, each file's in its own order.
        first, second = self.sorted_records[0::2], self.sorted_records[1::2]
        self.write("a.csv", joined(first))
        self.write("b.csv", joined(second))
        self.write("c.csv", b"C00000,other\r\n")
        expected = joined(sorted(second + first, key=key))
        out = self.full("out.csv")

        writer = subprocess.Popen(
            [tarnsek.BIN, "/M", "a.csv|b.csv", "/O", "out.csv", "/K", "1"], cwd=self.dir, env=tarnsek.linux_env(),
            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        try:
            # The log is flushed line by line: once the output's opening is
            # logged, the first run holds it for the whole merge.
            head = b""
            while True:
                line = writer.stdout.readline()
                head += line
                if not line or sj(opened(out)) in line:
                    break
            self.assertIn(sj(opened(out)), head, "the first run never opened its output")

            second_run = self.run_tool("/M", "c.csv", "/O", "out.csv", "/K", "1")
            rest, errors = writer.communicate(timeout=600)
        finally:
            if writer.poll() is None:
                writer.kill()
                writer.wait()

        # A file held by another run is refused with 13, as access denied.
        self.assertFails(second_run, 1002, open_failed(out, 13))
        self.assertEqual(second_run.texts[-2], MERGE_STARTED)

        first_run = tarnsek.Result(subprocess.CompletedProcess(writer.args, writer.returncode,
                                                               head + rest, errors))
        self.assertEqual(first_run.stderr, b"")
        self.assertSucceeds(first_run)
        self.assertEqual(first_run.texts[-3:], [merge_written(TOTAL), closed(out), MERGE_FINISHED])
        self.assertTrue(self.read("out.csv") == expected, "the first run's output is not complete")


if __name__ == "__main__":
    unittest.main()
