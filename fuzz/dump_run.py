"""DumpSerializer.run and run_json on drawn schemas and objects (junk, hostile values,
one-shot iterators, holders whose lookups fail) against the pure dump and json.dumps."""

import kit
from hypothesis import given, strategies as st

from tests.support.strategies import dump_case

TestOneInput = kit.entry(kit.FUZZ_SETTINGS(given(st.data())(dump_case)))

if __name__ == "__main__":
    kit.main(TestOneInput)
