"""photomap on damaged pictures: cut short, or with bits flipped.

The damaged copies are made at test time from the seed pictures (one per
format, tests/e2e/seeds.py) with a fixed random seed, so every run of the
suite tries the same files. Whatever the damage, photomap must exit 0 in
time, and either show message B and hand nothing over, or hand over one map
URL with nothing on stderr: none of exiv2's own warnings reach the user.
"""

import os
import random
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import seeds  # noqa: E402
from runs import HardeningRun  # noqa: E402

RANDOM_SEED = 20240611
TRUNCATIONS_PER_PICTURE = 16
FLIPS_PER_PICTURE = 24
# Metadata sits in the first kilobyte of every seed picture; most flips land
# there, the rest anywhere in the file.
HEAD_BYTES = 1024


def truncation_lengths(size, rng):
    """Lengths to cut a file of `size` bytes to: the very short ones, the
    middle, one byte short, and random ones in between."""
    fixed = {1, 2, 4, 8, 16, 64, size // 2, size - 1}
    lengths = {n for n in fixed if 0 < n < size}
    while len(lengths) < min(TRUNCATIONS_PER_PICTURE, size - 1):
        lengths.add(rng.randrange(1, size))
    return sorted(lengths)


def flipped(data, rng, flip_count):
    """A copy of `data` with `flip_count` different random bits flipped, and their positions."""
    positions = set()
    while len(positions) < flip_count:
        limit = min(len(data), HEAD_BYTES) if rng.random() < 0.75 else len(data)
        positions.add(rng.randrange(limit * 8))
    damaged = bytearray(data)
    for bit in positions:
        damaged[bit // 8] ^= 1 << (bit % 8)
    return bytes(damaged), sorted(positions)


def report(outcomes, kind):
    opened = sum(1 for outcome in outcomes if outcome.result.stderr == b"")
    slowest = max(outcomes, key=lambda outcome: outcome.seconds)
    print("\n%d %s: %d opened a map, %d showed message B; slowest %.2f s (%s)"
          % (len(outcomes), kind, opened, len(outcomes) - opened, slowest.seconds, slowest.label),
          file=sys.stderr)


class DamagedPictures(HardeningRun):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.seed_paths = seeds.make_seed_pictures(os.path.join(cls.root, "seeds"))

    def write(self, name, data):
        path = self.path(name)
        with open(path, "wb") as damaged:
            damaged.write(data)
        return path

    def seeds_to_damage(self, damage):
        """(name, random generator, bytes) of each seed, the generator fixed per damage kind."""
        for path in self.seed_paths:
            name = os.path.basename(path)
            with open(path, "rb") as picture:
                yield name, random.Random("%d %s %s" % (RANDOM_SEED, damage, name)), picture.read()

    def test_every_seed_picture_opens_its_map_when_intact(self):
        # Damage is only worth testing on pictures that hold a position.
        for path in self.seed_paths:
            name = os.path.basename(path)
            outcome = self.run_recorded(name, path)
            self.assert_clean_ends([outcome], expected_url=seeds.expected_url(name))

    def test_truncated_copies(self):
        outcomes = []
        for name, rng, data in self.seeds_to_damage("truncate"):
            for length in truncation_lengths(len(data), rng):
                copy = self.write("cut-%d-%s" % (length, name), data[:length])
                outcomes.append(self.run_recorded("%s cut to %d bytes" % (name, length), copy))
        self.assertGreaterEqual(len(outcomes), 6 * TRUNCATIONS_PER_PICTURE)
        self.assert_clean_ends(outcomes)
        report(outcomes, "truncated copies")

    def test_copies_with_flipped_bits(self):
        outcomes = []
        for name, rng, data in self.seeds_to_damage("flip"):
            for number in range(FLIPS_PER_PICTURE):
                damaged, bits = flipped(data, rng, flip_count=(1, 2, 4, 8)[number % 4])
                copy = self.write("flip-%d-%s" % (number, name), damaged)
                outcomes.append(self.run_recorded("%s with bits %s flipped" % (name, bits), copy))
        self.assertEqual(len(outcomes), 6 * FLIPS_PER_PICTURE)
        self.assert_clean_ends(outcomes)
        report(outcomes, "copies with flipped bits")


if __name__ == "__main__":
    unittest.main(verbosity=2)
