"""What the fault-library tests share: the library (FAULT_PRELOAD), the
environment that preloads it, and a scratch directory under its real path
with the library's report file beside it."""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from tarnsek import TarnsekTestCase  # noqa: E402

PRELOAD = os.environ.get("FAULT_PRELOAD", "")


def preload_env(**variables):
    """The environment of a run with the library preloaded and the FAULT_
    variables given."""
    env = {"LD_PRELOAD": PRELOAD,
           # A sanitizer build's runtime need not come first.
           "ASAN_OPTIONS": os.environ.get("ASAN_OPTIONS", "detect_leaks=0") + ":verify_asan_link_order=0"}
    env.update({"FAULT_" + name: str(value) for name, value in variables.items()})
    return env


class PreloadTestCase(TarnsekTestCase):

    def setUp(self):
        if not PRELOAD or not os.path.exists(PRELOAD):
            self.skipTest("FAULT_PRELOAD names no library")
        super().setUp()
        # Paths in the tool's messages and calls are canonical.
        self.dir = os.path.realpath(self.dir)
        self.report = self.dir + ".report"
        self.addCleanup(lambda: os.path.exists(self.report) and os.remove(self.report))

    def report_text(self):
        with open(self.report) as f:
            return f.read()
