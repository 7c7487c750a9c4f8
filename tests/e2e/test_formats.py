"""photomap on the pictures that only its own readers understand (formats.py).

The good ones must open the map at exactly their position; each broken
twin breaks one reader bound and must end in message B, within the
reader's time limits (its deadline is 2 s).
"""

import os
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import formats  # noqa: E402
from runs import is_sanitized  # noqa: E402
from test_photomap import PhotomapRun, url_for  # noqa: E402

BOUND_SECONDS = 3.0
SANITIZED_FACTOR = 3


class OwnReaders(PhotomapRun):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.bound = BOUND_SECONDS * (SANITIZED_FACTOR if is_sanitized(cls.photomap) else 1)

    def write(self, name, data):
        path = self.path(name)
        with open(path, "wb") as picture:
            picture.write(data)
        return path

    def test_good_pictures_open_the_map_at_their_position(self):
        for name, (data, position) in formats.good_pictures().items():
            with self.subTest(name):
                self.setUp()  # a record of its own
                self.assert_opens(url_for(position), self.write(name, data))

    def test_broken_twins_give_message_b_within_the_limits(self):
        for name, data in formats.broken_twins().items():
            with self.subTest(name):
                self.setUp()
                started = time.monotonic()
                self.assert_message_b(self.write(name, data))
                self.assertLess(time.monotonic() - started, self.bound)


if __name__ == "__main__":
    unittest.main()
